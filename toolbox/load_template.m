function [template, filters, stamps, training] = load_template(file)
% LOAD_TEMPLATE  Load a template saved by save_template, with its filter bank and settings.
%
%   [template, filters, stamps] = load_template(file)
%   [template, filters, stamps, training] = load_template(file)
%
%   Reads back what save_template wrote. detect_faces finds exactly the same detections with
%   the template, filters and stamps read here as with those that were saved. A missing or
%   unreadable file is refused with load_template:cannotRead, a file that is not
%   save_template's with load_template:notTemplate, one written by a newer version of the
%   toolbox with load_template:newerFormat.
%
%   Arguments:
%     file      name of the MAT file.
%   Returns:
%     template  the learned template; template.params holds its learning settings.
%     filters   the filter bank and stamps it was learned with.
%     stamps
%     training  the description of its training data saved with it (an empty struct when
%               none was saved).
%
%   Example:
%     faces = zeros(30, 30, 6);
%     faces(12:18, :, :) = 1;
%     [filters, stamps] = filter_bank('orientCount', 4);
%     tables = background_tables(rand(30, 30, 6), filters, 'orientCount', 4);
%     template = learn_template(faces, filters, stamps, tables, 'orientCount', 4, ...
%                               'elementCount', 3, 'verbose', 0);
%     file = [tempname() '.mat'];
%     save_template(file, template, filters, stamps);
%     [loaded, loadedFilters] = load_template(file);
%     printf('%d elements, %d orientations\n', loaded.elementCount, numel(loadedFilters));  % 3, 4
%     delete(file);

  newestFormat = 1;
  if ~ischar(file) || isempty(file) || ~isrow(file)
    error('load_template:badArgument', 'load_template: argument 1 (file) must be a file name; got a %s', ...
          class(file));
  end
  [fid, reason] = fopen(file, 'r');
  if fid < 0
    error('load_template:cannotRead', 'load_template: cannot read %s: %s', file, reason);
  end
  fclose(fid);
  try
    saved = load(file);
  catch failure
    error('load_template:notTemplate', 'load_template: %s is not a readable MAT file (%s)', ...
          file, strtrim(failure.message));
  end
  if ~isfield(saved, 'fileKind') || ~isequal(saved.fileKind, template_file_kind())
    error('load_template:notTemplate', ['load_template: %s holds no template saved by ' ...
          'save_template (no fileKind ''%s'')'], file, template_file_kind());
  end
  if ~isfield(saved, 'formatVersion') || saved.formatVersion > newestFormat
    error('load_template:newerFormat', ['load_template: %s was saved in a newer format than ' ...
          '%d, the newest this toolbox reads; update the toolbox'], file, newestFormat);
  end
  template = saved.template;
  filters = saved.filters;
  stamps = saved.stamps;
  training = saved.training;
end
