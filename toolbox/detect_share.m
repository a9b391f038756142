function counts = detect_share(outFolder, share, shareCount, varargin)
% DETECT_SHARE  Search one share of a prepared batch's photos: the work of one worker process
% or one task of a cluster job array.
%
%   counts = detect_share(outFolder, share, shareCount)
%   counts = detect_share(outFolder, share, shareCount, 'name', value, ...)
%
%   Takes photos share, share + shareCount, share + 2*shareCount, ... of the list that
%   detect_folder stored in outFolder (photos.txt, with the template file and settings in
%   batch.mat), and searches each photo whose result is not complete, as detect_folder
%   does: its CSV written under a temporary name and renamed once its outcome is appended
%   to the share's part of the index (parts/share-<share>-of-<shareCount>.csv), so that a
%   process killed at any moment leaves no half result and loses at most the photo it was
%   searching. A photo that fails is recorded with its reason and the share goes on.
%   detect_folder starts it in each worker process; a Slurm array task runs it with share
%   SLURM_ARRAY_TASK_ID + 1 (scripts/slurm/detect_array.sh). batch_index merges the parts.
%   A folder without a prepared batch is refused with detect_share:noBatch.
%
%   Arguments:
%     outFolder   the batch's output folder.
%     share       which share, from 1 to shareCount.
%     shareCount  how many shares the photo list is dealt into.
%   Options (name/value pairs):
%     logFile     file the outcome of each photo is appended to (default batch.log in
%                 outFolder).
%     parent      process id of the batch that started this worker: the share stops
%                 before its next photo once that process has ended (default 0: none).
%     verbose     1: a progress line at most every progressInterval seconds (rewritten in
%                 place), 0 (default): nothing.
%   Returns:
%     counts      struct: total (photos of the share), skipped (complete already),
%                 processed (searched now), failed (of those), toProcess and stopped
%                 (true when it stopped because its parent ended).
%
%   Example:
%     % with the data fetched: prepare a batch of two photos, then search its first share
%     if exist('data/lfw_subset.npy', 'file')
%       photos = tempname(); mkdir(photos);
%       scene = read_image('data/1280px-Solvay_conference_1927.png');
%       imwrite(scene(401:580, 401:620), fullfile(photos, 'a.png'));
%       imwrite(scene(401:580, 621:840), fullfile(photos, 'b.png'));
%       out = tempname();
%       detect_folder(photos, out, 'faceSizes', 50, 'detectionCount', 2, 'verbose', 0, ...
%                     'elementCount', 10, 'rerank', 0, 'jobs', 1);
%       counts = detect_share(out, 1, 2);
%       printf('share 1 of 2: %d photo, %d already done\n', counts.total, counts.skipped);  % 1, 1
%     end

  options = share_options(varargin);
  if ~isnumeric(share) || ~isnumeric(shareCount) || ~isscalar(share) || ~isscalar(shareCount) || ...
     shareCount < 1 || share < 1 || share > shareCount || share ~= round(share) || ...
     shareCount ~= round(shareCount)
    error('detect_share:badArgument', ['detect_share: share and shareCount must be whole ' ...
          'numbers, 1 <= share <= shareCount; got %s and %s'], mat2str(share), mat2str(shareCount));
  end
  batch = read_batch('detect_share', outFolder);
  files = batch_files(outFolder);
  if isempty(options.logFile)
    options.logFile = files.log;
  end
  [template, filters, stamps] = load_template(batch.templateFile);
  use_threads(batch.settings.threads);
  partFile = fullfile(files.parts, sprintf('share-%d-of-%d.csv', share, shareCount));
  if ~exist(files.parts, 'dir')
    mkdir(files.parts);
  end
  mine = share:shareCount:numel(batch.photos);
  done = arrayfun(@(k) is_complete(batch, batch.photos{k}), mine);
  counts = struct('total', numel(mine), 'skipped', sum(done), 'processed', 0, 'failed', 0, ...
                  'toProcess', sum(~done), 'stopped', false);
  started = tic;
  shown = -Inf;
  for k = mine(~done)
    if options.parent > 0 && ~process_alive(options.parent)
      counts.stopped = true;
      printf('detect_share: the batch that started this worker (process %d) has ended: stopping\n', ...
             options.parent);
      break;
    end
    [record, pendingCsv] = detect_photo(batch, batch.photos{k}, template, filters, stamps);
    append_line('detect_share', partFile, index_columns(), index_line(record));
    if ~isempty(pendingCsv)
      replace_file('detect_share', pendingCsv, result_files(outFolder, record.photo));
    end
    log_record('detect_share', options.logFile, record);
    counts.processed = counts.processed + 1;
    counts.failed = counts.failed + strcmp(record.status, 'failed');
    if options.verbose && toc(started) - shown >= batch.settings.progressInterval
      shown = toc(started);
      printf('detect_folder: %s\r', progress_line(counts, shown));
    end
  end
  if options.verbose
    printf('detect_folder: %s\n', progress_line(counts, toc(started)));
  end
end

function text = option_name(name)
% An option's name in quotes, or the class of what was given instead.
  if ischar(name)
    text = ['''' name ''''];
  else
    text = ['given as a ' class(name)];
  end
end

function options = share_options(args)
% The options, checked.
  options = struct('logFile', '', 'parent', 0, 'verbose', 0);
  if mod(numel(args), 2) ~= 0
    error('detect_share:badArgument', 'detect_share: options come as name/value pairs; got an odd count (%d)', ...
          numel(args));
  end
  for k = 1:2:numel(args)
    name = args{k};
    value = args{k + 1};
    if ~ischar(name) || ~isfield(options, name)
      error('detect_share:unknownOption', ['detect_share: unknown option %s; the options are ' ...
            'logFile, parent and verbose'], option_name(name));
    end
    if strcmp(name, 'logFile')
      ok = ischar(value) && isrow(value);
      expected = 'a file name';
    else
      ok = isnumeric(value) && isscalar(value) && value >= 0 && value == round(value);
      expected = 'a whole number of at least 0';
    end
    if ~ok
      error('detect_share:badOption', 'detect_share: option ''%s'' must be %s; got a %s', ...
            name, expected, class(value));
    end
    options.(name) = value;
  end
end
