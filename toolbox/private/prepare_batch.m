function batch = prepare_batch(inFolder, outFolder, templateFile, dataDir, settings)
% PREPARE_BATCH  Prepares detect_folder's batch in outFolder, which the caller has locked:
% the template (face_template's when templateFile is missing or was made by face_template,
% otherwise the file as it is), the list of photos (photos.txt: the stored list, with the
% photos found since added at its end, so that each keeps its share), the description
% (batch.mat: the folders, the template file, the settings and which photos were complete
% at the start) and no leftover temporary files of killed runs. A folder holding another
% batch (other photos or other detection settings) is refused with detect_folder:otherBatch.
  files = batch_files(outFolder);
  batch = struct('inFolder', inFolder, 'templateFile', templateFile, 'settings', settings, ...
                 'completeAtStart', []);
  check_same_batch(files, batch);
  ready_template(templateFile, dataDir, settings);
  photos = photo_list(files, inFolder, outFolder, settings.recursive);
  remove_leftovers(outFolder, files);
  batch.outFolder = outFolder;
  batch.photos = photos;
  batch.completeAtStart = cellfun(@(p) is_complete(batch, p), photos);
  saved = rmfield(batch, {'outFolder', 'photos'});
  write_list(files.list, photos);
  save_batch(files.batch, saved);
end

function check_same_batch(files, batch)
% Refuses a folder whose stored batch searched another folder or with other settings.
  if ~exist(files.batch, 'file')
    return;
  end
  stored = load(files.batch);
  stored = stored.batch;
  if ~strcmp(stored.inFolder, batch.inFolder)
    error('detect_folder:otherBatch', ['detect_folder: %s holds the results of the photos of ' ...
          '%s, not %s: use another output folder'], fileparts(files.batch), stored.inFolder, ...
          batch.inFolder);
  end
  [~, rules] = detector_settings();
  compared = rules(strcmp(rules(:, 4), 'detection'), 1);
  compared{end + 1} = 'recursive';
  for k = 1:numel(compared)
    name = compared{k};
    if ~isequal(stored.settings.(name), batch.settings.(name))
      error('detect_folder:otherBatch', ['detect_folder: %s holds results searched with %s ' ...
            '%s, not %s: search with the same settings, or use another output folder'], ...
            fileparts(files.batch), name, mat2str(stored.settings.(name), 4), ...
            mat2str(batch.settings.(name), 4));
    end
  end
end

function ready_template(templateFile, dataDir, settings)
% Leaves templateFile holding the template: learned or checked by face_template, unless the
% file holds a template of other training data, which is used as it is.
  if exist(templateFile, 'file')
    [~, ~, ~, training] = load_template(templateFile);
    if ~isfield(training, 'file') || ~strcmp(training.file, 'lfw_subset.npy')
      return;
    end
  end
  asked = learning_settings(settings);
  ranking = settings_of_stage(settings, 'ranking');
  for name = fieldnames(ranking)'
    asked.(name{1}) = ranking.(name{1});
  end
  face_template(templateFile, 'dataDir', dataDir, asked, 'rerank', settings.rerank, ...
                'verbose', min(settings.verbose, 1));
end

function photos = photo_list(files, inFolder, outFolder, recursive)
% The stored list with the photos found since at its end; the output folder's own files
% are never photos.
  found = list_photos(inFolder, recursive);
  inside = [outFolder '/'];
  if strncmp(inside, [inFolder '/'], numel(inFolder) + 1)
    found = found(~strncmp(found, inside(numel(inFolder) + 2:end), numel(inside) - numel(inFolder) - 1));
  end
  photos = {};
  if exist(files.list, 'file')
    photos = regexp(fileread(files.list), '[^\n]+', 'match');
  end
  photos = [photos, found(~ismember(found, photos))];
end

function remove_leftovers(outFolder, files)
% Deletes the temporary files that runs killed while writing left behind.
  for folder = {files.detections, files.pictures}
    if exist(folder{1}, 'dir')
      names = files_below(folder{1}, true);
      for name = names(~cellfun(@isempty, regexp(names, '\.part-[^/]*$', 'once')))
        delete(fullfile(folder{1}, name{1}));
      end
    end
  end
  leftovers = dir(fullfile(outFolder, '*.part-*'));
  for k = 1:numel(leftovers)
    delete(fullfile(outFolder, leftovers(k).name));
  end
end

function write_list(file, photos)
% photos.txt, written whole and then renamed.
  write_text('detect_folder', file, sprintf('%s\n', photos{:}), 'replace');
end

function save_batch(file, batch)
% batch.mat, written whole and then renamed.
  temporary = temporary_name(file);
  save('-v7', temporary, 'batch');
  replace_file('detect_folder', temporary, file);
end
