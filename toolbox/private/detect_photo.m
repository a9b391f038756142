function [record, pendingCsv] = detect_photo(batch, photo, template, filters, stamps)
% DETECT_PHOTO  Searches one photo of a batch and writes its results: the detection picture
% (when the batch draws them) renamed into place, and the CSV under a temporary name,
% pendingCsv, for the caller to rename once the photo's outcome is recorded. A photo that
% cannot be read, is too small or too costly to search, or whose search fails gives a
% record of status 'failed' with the reason in its message (and pendingCsv empty); record
% holds the fields of index_columns.
  started = tic;
  record = struct('photo', photo, 'rows', NaN, 'cols', NaN, 'faces', NaN, 'bestScore', NaN, ...
                  'seconds', NaN, 'status', 'failed', 'message', '', 'finished', '');
  pendingCsv = '';
  settings = batch.settings;
  settings.verbose = 0;
  file = fullfile(batch.inFolder, photo);
  [csvFile, pictureFile] = result_files(batch.outFolder, photo);
  try
    [record.rows, record.cols] = photo_size(file);
    plan_scales(record.rows, record.cols, template.templateRows, template.templateCols, ...
                template.params, settings);
    image = read_image(file);
    [record.rows, record.cols] = size(image);
    detections = detect_faces(image, template, filters, stamps, detection_only(settings));
    if settings.pictures
      write_picture(pictureFile, image, detections);
    end
    pendingCsv = temporary_name(csvFile);
    write_detections(pendingCsv, detections, size(image));
    record.status = 'done';
    record.faces = numel(detections);
    if ~isempty(detections)
      record.bestScore = max([detections.score]);
    end
  catch failure
    record.message = strtrim(failure.message);
  end
  record.seconds = toc(started);
  record.finished = finished_now();
end

function settings = detection_only(settings)
% The settings detect_faces takes: learning and batch settings left out (the template fixes
% the learning ones).
  [~, rules] = detector_settings();
  detection = rules(strcmp(rules(:, 4), 'detection') | strcmp(rules(:, 4), 'both'), 1);
  settings = rmfield(settings, setdiff(fieldnames(settings), detection));
end

function make_folder_of(file)
% Makes the folder a file goes into, with its parents.
  folder = fileparts(file);
  if ~exist(folder, 'dir')
    [ok, message] = mkdir(folder);
    if ~ok
      error('detect_folder:cannotWrite', 'detect_folder: cannot make %s: %s', folder, message);
    end
  end
end

function write_detections(file, detections, photoSize)
% The photo's CSV: detections.csv's columns and the photo's size, one row per detection.
  make_folder_of(file);
  [fid, reason] = fopen(file, 'w');
  if fid < 0
    error('detect_folder:cannotWrite', 'detect_folder: cannot write %s: %s', file, reason);
  end
  fprintf(fid, 'row,col,height,width,score,photoRows,photoCols\n');
  for d = 1:numel(detections)
    fprintf(fid, '%.1f,%.1f,%.1f,%.1f,%.4f,%d,%d\n', detections(d).row, detections(d).col, ...
            detections(d).height, detections(d).width, detections(d).score, photoSize);
  end
  fclose(fid);
end

function write_picture(file, image, detections)
% The photo with its detections drawn, written whole under a temporary name, then renamed.
  make_folder_of(file);
  temporary = temporary_name(file);
  picture = uint8(round(255 * min(max(draw_detections(image, detections), 0), 1)));
  imwrite(picture, temporary, 'png');
  replace_file('detect_folder', temporary, file);
end
