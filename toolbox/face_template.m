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
%   With rerank 1 (the default) the template also carries, in template.ranker, the model
%   that detect_faces re-ranks its candidates with (learn_reranker): learned from the same
%   faces against the template's best detections on the face-free photos of
%   fetch-data.sh --face-free (mined as hard negatives) and the non-face patches, with the
%   ranking settings of detector_settings. It is learned (about 20 s) only when the
%   file holds none learned with those settings, and saved with the template.
%
%   Arguments:
%     templateFile  name of the template's MAT file (its folder must exist).
%     dataDir       option: folder of the data (default 'data').
%     settings      any learning or ranking setting of detector_settings (orientCount,
%                   elementCount, rerank, ...), as a struct or name/value pairs, and verbose (0: quiet; 1, the
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
%       [~, ~, ~, first] = face_template(file, 'elementCount', 10, 'rerank', 0, 'verbose', 0);
%       [~, ~, ~, second] = face_template(file, 'elementCount', 10, 'rerank', 0, 'verbose', 0);
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
      learned = ~has_ranker(template, settings);
      if learned
        template = with_ranker(template, filters, stamps, dataDir, data, settings);
        save_template(templateFile, template, filters, stamps, training);
      else
        say(settings.verbose, 'face_template: loaded the template from %s\n', templateFile);
      end
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
  say(settings.verbose, 'face_template: template learned in %.2f s\n', toc(started));
  if settings.rerank
    template = with_ranker(template, filters, stamps, dataDir, data, settings);
  end
  save_template(templateFile, template, filters, stamps, data.description);
  learned = true;
  say(settings.verbose, 'face_template: saved to %s\n', templateFile);
end

function held = has_ranker(template, settings)
% Whether the template holds what the settings ask for: a re-ranking model learned with the
% ranking settings, or none asked.
  held = ~settings.rerank || (isfield(template, 'ranker') && ...
                              isequal(template.ranker.params, settings_of_stage(settings, 'ranking')));
end

function template = with_ranker(template, filters, stamps, dataDir, data, settings)
% The template with its re-ranking model learned (learn_face_ranker), its data read when
% not yet read.
  photos = face_free_photos(dataDir);
  if isempty(data)
    data = training_data(dataDir);
  end
  started = tic;
  say(settings.verbose, ['face_template: learning the re-ranking model from %d faces against ' ...
      'the template''s best detections on %d face-free photos (about 20 s)\n'], ...
      size(data.faces, 3), numel(photos));
  template.ranker = learn_face_ranker(data, photos, template, filters, stamps, settings);
  say(settings.verbose, 'face_template: re-ranking model learned in %.1f s\n', toc(started));
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
