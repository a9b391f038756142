function [settings, givenNames] = resolve_settings(caller, args, rules)
% RESOLVE_SETTINGS  The settings of a toolbox call: defaults, then a partial struct and
% name/value pairs from args, each name and value checked.
%
%   [settings, givenNames] = resolve_settings(caller, args)
%   [settings, givenNames] = resolve_settings(caller, args, rules)
%
%   args is the caller's trailing argument list: an optional scalar struct of settings, then
%   name/value pairs. rules are detector_settings' rows {name, default, check, stage}. A
%   name that is not a setting is refused with <caller>:unknownOption, a value that breaks
%   its check with <caller>:badOption, a malformed list with <caller>:badArgument; each
%   message names the option, what was expected and what was given. normalizerHalf left
%   empty becomes the largest window inside the template's filter margin. givenNames lists
%   the names the call set, in order.

  if nargin < 3
    [~, rules] = detector_settings();
  end
  names = rules(:, 1);
  settings = cell2struct(rules(:, 2), names, 1);
  pairs = settings_pairs(caller, args);
  givenNames = pairs(:, 1)';
  for k = 1:size(pairs, 1)
    [name, value] = pairs{k, :};
    row = find(strcmp(names, name));
    if isempty(row)
      refuse_unknown(caller, name, names);
    end
    settings.(name) = checked_value(caller, name, value, rules{row, 3});
  end
  if isempty(settings.normalizerHalf)
    settings.normalizerHalf = max(0, floor((settings.templateSize - 1) / 2) - settings.filterHalf);
  end
end

function pairs = settings_pairs(caller, args)
% The (name, value) rows of a partial struct followed by name/value pairs.
  pairs = cell(0, 2);
  first = 1;
  if ~isempty(args) && isstruct(args{1})
    partial = args{1};
    if ~isscalar(partial)
      error([caller ':badArgument'], ...
            '%s: settings must be a scalar struct; got a %s struct array', caller, size_text(partial));
    end
    fields = fieldnames(partial);
    for k = 1:numel(fields)
      pairs(end + 1, :) = {fields{k}, partial.(fields{k})};
    end
    first = 2;
  end
  rest = args(first:end);
  if mod(numel(rest), 2) ~= 0
    error([caller ':badArgument'], ...
          '%s: options come as name/value pairs after a settings struct; got an odd count (%d)', ...
          caller, numel(rest));
  end
  for k = 1:2:numel(rest)
    if ~ischar(rest{k}) || ~(isrow(rest{k}) || isempty(rest{k}))
      error([caller ':badArgument'], '%s: option name %d must be text; got %s', caller, ...
            (k + 1) / 2, value_text(rest{k}));
    end
    pairs(end + 1, :) = {rest{k}, rest{k + 1}};
  end
end

function refuse_unknown(caller, name, names)
% Refuses a name that is no setting, suggesting the setting it differs from only in case.
  similar = names(strcmpi(names, name));
  hint = '';
  if ~isempty(similar)
    hint = sprintf(' (did you mean ''%s''?)', similar{1});
  end
  error([caller ':unknownOption'], ...
        '%s: unknown option ''%s''%s; help detector_settings lists every option', caller, name, hint);
end

function value = checked_value(caller, name, value, check)
% The value as a double, or the refusal naming the option, the rule and the value.
  isNumber = (isnumeric(value) || islogical(value)) && isreal(value) && ~issparse(value);
  scalar = isNumber && isscalar(value);
  if scalar
    v = double(value);
  end
  switch check
    case 'count'
      ok = scalar && isfinite(v) && v == round(v) && v >= 1;
      expected = 'a whole number of at least 1';
    case 'whole'
      ok = scalar && isfinite(v) && v == round(v) && v >= 0;
      expected = 'a whole number of at least 0';
    case 'auto'
      ok = (isNumber && isempty(value)) || (scalar && isfinite(v) && v == round(v) && v >= 0);
      expected = 'a whole number of at least 0, or [] for the default';
    case 'positive'
      ok = scalar && isfinite(v) && v > 0;
      expected = 'a finite number greater than 0';
    case 'nonneg'
      ok = scalar && isfinite(v) && v >= 0;
      expected = 'a finite number of at least 0';
    case 'atLeastOne'
      ok = scalar && isfinite(v) && v >= 1;
      expected = 'a finite number of at least 1';
    case 'reach'
      ok = scalar && ~isnan(v) && v >= 1;
      expected = 'a number of at least 1 (Inf: every size)';
    case 'aboveOne'
      ok = scalar && isfinite(v) && v > 1;
      expected = 'a finite number greater than 1';
    case 'fraction'
      ok = scalar && v >= 0 && v <= 1;
      expected = 'a number from 0 to 1';
    case 'threshold'
      ok = scalar && ~isnan(v);
      expected = 'a number (-Inf or Inf included), not NaN';
    case 'sizes'
      ok = isNumber && (isvector(value) || isempty(value)) && all(isfinite(value(:))) && ...
           all(value(:) > 0);
      expected = ['a vector of face heights in pixels, each finite and greater than 0, ' ...
                  'or [] for every size'];
    case 'numbers'
      ok = isNumber && isvector(value) && all(isfinite(value(:)));
      expected = 'a vector of finite numbers';
    case 'flag'
      ok = scalar && any(v == [0 1]);
      expected = '0 or 1 (false or true)';
    case 'verbosity'
      ok = scalar && any(v == [0 1 2]);
      expected = '0 (quiet), 1 (progress) or 2 (progress and every learned element)';
    otherwise
      error([caller ':internalError'], '%s: setting %s has no check named %s', caller, name, check);
  end
  if ~ok
    error([caller ':badOption'], '%s: option ''%s'' must be %s; got %s', caller, name, ...
          expected, value_text(value));
  end
  value = double(value);
  if any(strcmp(check, {'sizes', 'numbers'}))
    value = reshape(value, 1, []);
  end
end

function text = value_text(value)
% A short description of a value for a message: the number itself, or its size and class.
  if (isnumeric(value) || islogical(value)) && isscalar(value) && isreal(value)
    text = num2str(double(value), 10);
  elseif ischar(value) && (isrow(value) || isempty(value)) && numel(value) <= 40
    text = sprintf('the text ''%s''', value);
  else
    text = sprintf('a %s %s', size_text(value), class(value));
  end
end

function text = size_text(value)
% "3x4" for a 3 x 4 array.
  text = strjoin(arrayfun(@num2str, size(value), 'UniformOutput', false), 'x');
end
