function [template, filters, stamps, learned] = face_template(templateFile, varargin)
% FACE_TEMPLATE  The demo's face template: loaded from its file when that file was learned
% with the same settings and data, otherwise learned and saved there.
%
%   template = face_template(templateFile)
%   template = face_template(templateFile, 'dataDir', folder, 'name', value, ...)
%   [template, filters, stamps, learned] = face_template(...)
%
%   The template is learned as face_demo learns it: from the 100 aligned faces of
%   dataDir/lfw_subset.npy and their mirror images, with background tables from its 100
%   non-face patches. When templateFile exists, holds a template saved by save_template
%   with the same learning settings, and was learned from the same data (a checksum of the
%   patches is stored with it), it is loaded and nothing is learned; otherwise the template
%   is learned and saved to templateFile, replacing what was there. Batches and repeated
%   demos so learn once. A missing data file is refused with face_template:noData, unless
%   the template file matches the settings (the data are then not checked).
%
%   Arguments:
%     templateFile  name of the template's MAT file (its folder must exist).
%     dataDir       option: folder of the data (default 'data').
%     settings      any learning setting of detector_settings (orientCount, elementCount,
%                   ...), as a struct or name/value pairs, and verbose (0: quiet; 1, the
%                   default: a line saying whether the template was loaded or learned,
%                   and learning's lines).
%   Returns:
%     template      the template (learn_template), its learning settings in template.params.
%     filters       its filter bank and stamps (filter_bank).
%     stamps
%     learned       true when it was learned now, false when it was loaded.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh data):
%     if exist('data/lfw_subset.npy', 'file')
%       file = [tempname() '.mat'];
%       [~, ~, ~, first] = face_template(file, 'elementCount', 10, 'verbose', 0);
%       [~, ~, ~, second] = face_template(file, 'elementCount', 10, 'verbose', 0);
%       printf('learned the first time: %d, the second: %d\n', first, second);   % 1, 0
%       delete(file);
%     end

  if nargin < 1 || ~ischar(templateFile) || isempty(templateFile) || ~isrow(templateFile)
    error('face_template:badArgument', 'face_template: argument 1 (templateFile) must be a file name');
  end
  [dataDir, settingArgs] = data_folder_option(varargin);
  settings = resolve_settings('face_template', settingArgs);
  wanted = learning_settings(settings);
  dataFile = fullfile(dataDir, 'lfw_subset.npy');
  data = [];
  if exist(dataFile, 'file') || ~exist(templateFile, 'file')
    data = training_data(dataDir);
  end
  if exist(templateFile, 'file')
    [template, filters, stamps, training] = load_template(templateFile);
    if isequal(template.params, wanted) && (isempty(data) || isequal(training, data.description))
      learned = false;
      say(settings.verbose, 'face_template: loaded the template from %s\n', templateFile);
      return;
    end
    say(settings.verbose, ['face_template: %s was learned with other settings or data: learning ' ...
                   'the template again\n'], templateFile);
  end
  if isempty(data)
    data = training_data(dataDir);
  end
  started = tic;
  [filters, stamps] = filter_bank(settings);
  tables = background_tables(data.nonFaces, filters, settings);
  say(settings.verbose, 'face_template: learning %d elements from %d faces (mirror images included)\n', ...
      settings.elementCount, size(data.faces, 3));
  template = learn_template(data.faces, filters, stamps, tables, settings);
  save_template(templateFile, template, filters, stamps, data.description);
  learned = true;
  say(settings.verbose, 'face_template: learned in %.2f s and saved to %s\n', toc(started), templateFile);
end

function [dataDir, rest] = data_folder_option(args)
% The dataDir option, taken out of the argument list; the rest are settings.
  dataDir = 'data';
  rest = args;
  first = 1 + (~isempty(args) && isstruct(args{1}));
  for k = numel(args) - 1:-1:first
    if mod(k - first, 2) == 0 && ischar(args{k}) && strcmp(args{k}, 'dataDir')
      dataDir = args{k + 1};
      if ~ischar(dataDir) || ~isrow(dataDir)
        error('face_template:badOption', 'face_template: option ''dataDir'' must be a folder name; got a %s', ...
              class(dataDir));
      end
      rest(k:k + 1) = [];
    end
  end
end
