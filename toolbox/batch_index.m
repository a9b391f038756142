function [records, indexFile] = batch_index(outFolder)
% BATCH_INDEX  Merge the parts of a batch's index into its index.csv, one row per photo.
%
%   records = batch_index(outFolder)
%   [records, indexFile] = batch_index(outFolder)
%
%   Reads the photo list of the batch in outFolder (photos.txt) and every share's part of
%   the index (parts/*.csv, written by detect_share), and writes index.csv there (whole,
%   then renamed) with a row per photo, in the list's order, from the photo's latest
%   outcome: status done when its result is complete (its CSV, and its picture when the
%   batch draws them, no older than the photo and the template), failed with the reason
%   in message when its latest search failed, and pending when it has no outcome yet (its
%   worker or task ended before reaching it). The columns: photo (path in the photo
%   folder), rows, cols (its size), faces (detections), bestScore, seconds (of its search),
%   status, message and finished (when its search ended). detect_folder calls it at the
%   end of every run; call it to see where a batch stands. A folder without a prepared
%   batch is refused with batch_index:noBatch.
%
%   Arguments:
%     outFolder  the batch's output folder.
%   Returns:
%     records    struct array, a record per photo with the fields of the columns (unknown
%                numbers are NaN).
%     indexFile  the index's file name.
%
%   Example:
%     % with the data fetched: a batch of two photos, one of them not an image
%     if exist('data/lfw_subset.npy', 'file')
%       photos = tempname(); mkdir(photos);
%       scene = read_image('data/1280px-Solvay_conference_1927.png');
%       imwrite(scene(401:580, 401:620), fullfile(photos, 'a.png'));
%       fclose(fopen(fullfile(photos, 'b.png'), 'w'));                 % an empty file
%       out = tempname();
%       detect_folder(photos, out, 'faceSizes', 50, 'detectionCount', 2, 'verbose', 0, ...
%                     'elementCount', 10, 'rerank', 0, 'jobs', 1);
%       records = batch_index(out);
%       printf('%s: %s %s\n', records(2).photo, records(2).status, records(2).message);
%     end

  files = batch_files(outFolder);
  batch = read_batch('batch_index', outFolder);
  latest = latest_outcomes(files.parts);
  empty = struct('photo', '', 'rows', NaN, 'cols', NaN, 'faces', NaN, 'bestScore', NaN, ...
                 'seconds', NaN, 'status', 'pending', 'message', '', 'finished', '');
  records = repmat(empty, 1, numel(batch.photos));
  for k = 1:numel(batch.photos)
    photo = batch.photos{k};
    if is_complete(batch, photo)
      if isKey(latest.done, photo)
        records(k) = latest.done(photo);
      else
        records(k) = outcome_from_csv(outFolder, photo);
      end
    elseif isKey(latest.failed, photo)
      records(k) = latest.failed(photo);
    else
      records(k).photo = photo;
    end
  end
  indexFile = files.index;
  write_index(indexFile, records);
end

function latest = latest_outcomes(partsFolder)
% Per photo, its latest done and its latest failed outcome in the parts.
  latest = struct('done', containers.Map(), 'failed', containers.Map());
  parts = dir(fullfile(partsFolder, '*.csv'));
  for p = 1:numel(parts)
    lines = regexp(fileread(fullfile(partsFolder, parts(p).name)), '[^\n]+', 'match');
    for k = 1:numel(lines)
      record = parse_index_line(lines{k});
      if isempty(record)
        continue;
      end
      kept = latest.(record.status);
      if ~isKey(kept, record.photo) || ~issorted({kept(record.photo).finished, record.finished})
        kept(record.photo) = record;
      end
    end
  end
end

function record = outcome_from_csv(outFolder, photo)
% A complete result with no recorded outcome (its part was lost): what its CSV tells.
  csvFile = result_files(outFolder, photo);
  lines = regexp(fileread(csvFile), '[^\n]+', 'match');
  values = zeros(numel(lines) - 1, 7);
  for k = 2:numel(lines)
    values(k - 1, :) = sscanf(lines{k}, '%f,%f,%f,%f,%f,%f,%f')';
  end
  record = struct('photo', photo, 'rows', NaN, 'cols', NaN, 'faces', size(values, 1), ...
                  'bestScore', NaN, 'seconds', NaN, 'status', 'done', 'message', '', 'finished', '');
  if ~isempty(values)
    record.rows = values(1, 6);
    record.cols = values(1, 7);
    record.bestScore = max(values(:, 5));
  end
end

function write_index(file, records)
% index.csv, written whole and then renamed.
  lines = [{index_columns()}, reshape(arrayfun(@index_line, records, 'UniformOutput', false), 1, [])];
  write_text('batch_index', file, sprintf('%s\n', lines{:}), 'replace');
end
