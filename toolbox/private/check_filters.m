function check_filters(caller, filters, stamps, settings)
% CHECK_FILTERS  Refuses, with <caller>:filterMismatch, a filter bank or stamp set that does
% not match the settings' orientCount and filterHalf (filter_bank makes matching ones).
  side = 2 * settings.filterHalf + 1;
  banks = {filters, stamps};
  names = {'filters', 'stamps'};
  for k = 1:numel(banks)
    bank = banks{k};
    if ~iscell(bank) || numel(bank) ~= settings.orientCount || ...
       ~all(cellfun(@(f) isnumeric(f) && isequal(size(f), [side side]), bank))
      error([caller ':filterMismatch'], ['%s: %s must be %d arrays of %d x %d (orientCount %d, ' ...
            'filterHalf %d: make them with filter_bank and the same settings); got %s'], ...
            caller, names{k}, settings.orientCount, side, side, settings.orientCount, ...
            settings.filterHalf, bank_text(bank));
    end
  end
end

function text = bank_text(bank)
% "8 arrays of 11 x 11", or the class and size of what was given instead.
  if iscell(bank) && ~isempty(bank) && isnumeric(bank{1})
    text = sprintf('%d arrays, the first %d x %d', numel(bank), size(bank{1}, 1), size(bank{1}, 2));
  else
    text = sprintf('a %s %s', strjoin(arrayfun(@num2str, size(bank), 'UniformOutput', false), 'x'), ...
                   class(bank));
  end
end
