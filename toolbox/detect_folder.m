function summary = detect_folder(inFolder, outFolder, varargin)
% DETECT_FOLDER  Find faces in every photo of a folder: a batch that resumes where it stopped.
%
%   summary = detect_folder(inFolder, outFolder)
%   summary = detect_folder(inFolder, outFolder, 'name', value, ...)
%
%   Searches every PNG and JPEG of inFolder (and of its subfolders, with recursive 1) with
%   the demo's face template and writes into outFolder:
%     detections/<photo>.csv  per photo (its path in inFolder plus .csv): detections.csv's
%                             columns row,col,height,width,score and photoRows,photoCols
%     pictures/<photo>.png    per photo, with pictures 1: the photo with its detections
%     index.csv               a row per photo: photo,rows,cols,faces,bestScore,seconds,
%                             status (done, failed or pending),message,finished
%     batch.log               a line per photo as it ends, and each run's summary
%     photos.txt, batch.mat   the photo list and the batch's settings, parts/ the index's
%                             parts, logs/ the output of worker processes, template.mat
%                             the template (unless templateFile names another file)
%   The template is learned once (face_template) and reused while its settings and data
%   match. Each result is written under a temporary name and renamed when complete, so a
%   killed run never leaves a half file; a rerun skips the photos whose result is complete
%   and no older than the photo and the template. A photo that cannot be read, is too small
%   or too costly to search (memoryLimit, maxEnlargement), or whose search fails is recorded
%   in the index with its reason, and the batch goes on. While it runs, a progress line
%   (count, rate, time left) is rewritten at most every progressInterval seconds; at the end
%   a summary line counts the photos done, skipped as already done, failed and not done.
%
%   With jobs n above 1, n worker processes (octave-cli, each running detect_share over its
%   own share of the photos, with threads threads) search in parallel; their output goes to
%   logs/. With runner 'slurm', the shares with photos left become the tasks of a Slurm job
%   array (sbatch --array, the batch script slurmScript), and the call waits for it.
%
%   The output folder is checked first: one that cannot be made or written is refused with
%   detect_folder:cannotWrite before any work. One batch at a time uses a folder: it holds
%   batch.lock (process id and host) while it runs, and a second batch is refused with
%   detect_folder:busy; a lock left by a process that has ended is taken over. A folder
%   holding the results of other photos or other detection settings is refused with
%   detect_folder:otherBatch.
%
%   Arguments:
%     inFolder      folder of photos (detect_folder:noFolder when it is not one).
%     outFolder     output folder, made if missing.
%   Options (name/value pairs):
%     templateFile  the template's MAT file (default template.mat in outFolder): learned
%                   there by face_template when missing or made by face_template with other
%                   settings or data; a template saved otherwise (save_template) is used as
%                   it is.
%     dataDir       folder of the training data (default 'data').
%     runner        'local' (default): this process, or jobs worker processes; 'slurm': a
%                   job array of jobs tasks.
%     slurmScript   the batch script of the job array (scripts/slurm/detect_array.sh).
%     slurmOptions  further sbatch options, as shell words (for example
%                   '--partition=short --time=2:00:00').
%   and any setting of detector_settings: the detection settings (faceSizes, detectionCount,
%   ...), the learning settings of the template, and the batch's: recursive, pictures,
%   jobs (0: one per core), threads (0: the cores split among the jobs), progressInterval
%   and verbose (0: quiet; 1: progress and summary).
%   Returns:
%     summary       struct: total, done, skipped, failed, pending (photos of each kind),
%                   seconds, records (batch_index's, a record per photo) and line (the
%                   summary line).
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh data): two crops of the Solvay photo
%     if exist('data/lfw_subset.npy', 'file')
%       photos = tempname(); mkdir(photos);
%       scene = read_image('data/1280px-Solvay_conference_1927.png');
%       imwrite(scene(401:580, 401:620), fullfile(photos, 'left.png'));
%       imwrite(scene(401:580, 621:840), fullfile(photos, 'right.jpg'));
%       out = tempname();
%       summary = detect_folder(photos, out, 'faceSizes', 50, 'detectionCount', 2, ...
%                               'elementCount', 10, 'rerank', 0, 'jobs', 1, 'verbose', 0);
%       printf('%d photos done, %d failed\n', summary.done, summary.failed);   % 2, 0
%       again = detect_folder(photos, out, 'faceSizes', 50, 'detectionCount', 2, ...
%                             'elementCount', 10, 'rerank', 0, 'jobs', 1, 'verbose', 0);
%       printf('rerun: %d skipped as already done\n', again.skipped);         % 2
%     end

  started = tic;
  [options, settingArgs] = folder_options(varargin);
  settings = resolve_settings('detect_folder', settingArgs);
  if ~ischar(inFolder) || ~isrow(inFolder) || ~exist(inFolder, 'dir')
    error('detect_folder:noFolder', 'detect_folder: the photo folder %s is not a folder', ...
          text_or_class(inFolder));
  end
  if ~ischar(outFolder) || ~isrow(outFolder)
    error('detect_folder:badArgument', 'detect_folder: argument 2 (outFolder) must be a folder name; got a %s', ...
          class(outFolder));
  end
  inFolder = absolute_path(inFolder);
  outFolder = absolute_path(outFolder);
  check_writable(outFolder);
  if isempty(options.templateFile)
    options.templateFile = fullfile(outFolder, 'template.mat');
  end
  options.templateFile = absolute_path(options.templateFile);
  settings = worker_counts(settings, options.runner);
  files = batch_files(outFolder);
  take_lock('detect_folder', files.lock);
  unlock = onCleanup(@() release_lock(files.lock));

  batch = prepare_batch(inFolder, outFolder, options.templateFile, options.dataDir, settings);
  counts = struct('total', numel(batch.photos), 'skipped', sum(batch.completeAtStart), ...
                  'processed', 0, 'failed', 0, 'toProcess', sum(~batch.completeAtStart));
  say(settings.verbose, 'detect_folder: %d photos in %s, %d of them already done; %s\n', counts.total, ...
      inFolder, counts.skipped, runner_text(options.runner, settings, counts.toProcess));
  append_line('detect_folder', files.log, '', sprintf('%s start  %d photos of %s, %d already done; %s', ...
              finished_now(), counts.total, inFolder, counts.skipped, ...
              runner_text(options.runner, settings, counts.toProcess)));
  if counts.toProcess > 0
    if strcmp(options.runner, 'local') && settings.jobs == 1
      detect_share(outFolder, 1, 1, 'verbose', settings.verbose);
    else
      run_workers(batch, options, settings, counts);
    end
  end
  summary = summarize(batch, started);
  say(settings.verbose, 'detect_folder: %s\n', summary.line);
  append_line('detect_folder', files.log, '', sprintf('%s end    %s', finished_now(), summary.line));
end

function [options, rest] = folder_options(args)
% detect_folder's own options, taken out of the argument list; the rest are settings.
  options = struct('templateFile', '', 'dataDir', 'data', 'runner', 'local', 'slurmScript', '', ...
                   'slurmOptions', '');
  rest = {};
  first = 1;
  if ~isempty(args) && isstruct(args{1})
    rest = args(1);
    first = 2;
  end
  if mod(numel(args) - first + 1, 2) ~= 0
    error('detect_folder:badArgument', 'detect_folder: options come as name/value pairs; got an odd count (%d)', ...
          numel(args) - first + 1);
  end
  for k = first:2:numel(args)
    name = args{k};
    value = args{k + 1};
    if ischar(name) && isfield(options, name)
      if ~ischar(value) || ~(isrow(value) || isempty(value))
        error('detect_folder:badOption', 'detect_folder: option ''%s'' must be text; got a %s', ...
              name, class(value));
      end
      options.(name) = value;
    else
      rest(end + 1:end + 2) = {name, value};
    end
  end
  if ~any(strcmp(options.runner, {'local', 'slurm'}))
    error('detect_folder:badOption', 'detect_folder: option ''runner'' must be ''local'' or ''slurm''; got ''%s''', ...
          options.runner);
  end
  if strcmp(options.runner, 'slurm') && ~exist(options.slurmScript, 'file')
    error('detect_folder:badOption', ['detect_folder: runner ''slurm'' needs option ' ...
          '''slurmScript'', the batch script of the job array (scripts/slurm/detect_array.sh); ' ...
          'got ''%s'''], options.slurmScript);
  end
end

function text = text_or_class(value)
% A name, or the class of what was given instead.
  if ischar(value)
    text = value;
  else
    text = ['given as a ' class(value)];
  end
end

function check_writable(outFolder)
% Refuses, before any work, an output folder that cannot be made or written.
  if ~exist(outFolder, 'dir')
    [ok, message] = mkdir(outFolder);
    if ~ok
      error('detect_folder:cannotWrite', 'detect_folder: cannot make the output folder %s: %s', ...
            outFolder, message);
    end
  end
  probe = temporary_name(fullfile(outFolder, 'write-test'));
  [fid, reason] = fopen(probe, 'w');
  if fid < 0
    error('detect_folder:cannotWrite', 'detect_folder: the output folder %s is not writable: %s', ...
          outFolder, reason);
  end
  fclose(fid);
  delete(probe);
end

function settings = worker_counts(settings, runner)
% jobs 0 becomes one per core (one task per core for Slurm), threads 0 the cores split
% evenly among the jobs.
  cores = core_count();
  if settings.jobs == 0
    settings.jobs = cores;
  end
  if settings.threads == 0
    settings.threads = max(1, floor(cores / settings.jobs));
    if strcmp(runner, 'slurm')
      settings.threads = 1;
    end
  end
end

function text = runner_text(runner, settings, toProcess)
% How the photos left are searched.
  if toProcess == 0
    text = 'nothing to search';
  elseif strcmp(runner, 'slurm')
    text = sprintf('a Slurm job array over %d shares, %d thread(s) per task', settings.jobs, ...
                   settings.threads);
  elseif settings.jobs == 1
    text = sprintf('searching in this process, %d thread(s)', settings.threads);
  else
    text = sprintf('%d worker processes, %d thread(s) each', settings.jobs, settings.threads);
  end
end


function summary = summarize(batch, started)
% Merges the index and counts the photos of each kind.
  records = batch_index(batch.outFolder);
  statuses = {records.status};
  done = strcmp(statuses, 'done');
  summary = struct('total', numel(records), 'done', sum(done & ~batch.completeAtStart), ...
                   'skipped', sum(done & batch.completeAtStart), ...
                   'failed', sum(strcmp(statuses, 'failed')), ...
                   'pending', sum(strcmp(statuses, 'pending')), 'seconds', toc(started), ...
                   'records', records);
  files = batch_files(batch.outFolder);
  summary.line = sprintf(['%d photos in %.1f s: %d done, %d skipped as already done, %d failed, ' ...
                          '%d not done; index: %s'], summary.total, summary.seconds, ...
                         summary.done, summary.skipped, summary.failed, summary.pending, files.index);
  if summary.pending > 0
    summary.line = [summary.line, sprintf(['; the photos not done were left by workers or ' ...
                    'tasks that ended early (see %s): run the batch again'], files.logs)];
  end
end
