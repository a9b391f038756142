function check_template(caller, template, position)
% CHECK_TEMPLATE  Refuses, with <caller>:badTemplate, an argument that is not the template
% struct learn_template makes; position is the argument's place in the caller's call.
  fields = {'elementCount', 'orients', 'rowOffsets', 'colOffsets', 'weights', 'biases', ...
            'templateRows', 'templateCols', 'params'};
  if ~isstruct(template) || ~isscalar(template) || ~all(isfield(template, fields))
    error([caller ':badTemplate'], ['%s: argument %d (template) must be the struct ' ...
          'learn_template makes, with fields %s'], caller, position, strjoin(fields, ', '));
  end
end
