function run_workers(batch, options, settings, counts)
% RUN_WORKERS  Searches a prepared batch's photos left in settings.jobs shares at once: a
% worker process per share (runner 'local'), or a Slurm job array over the shares with
% photos left (runner 'slurm'), and waits for them, printing the progress they make (read
% from the parts of the index they append to).
  files = batch_files(batch.outFolder);
  if ~exist(files.logs, 'dir')
    mkdir(files.logs);
  end
  shareCount = settings.jobs;
  shares = find(arrayfun(@(s) any(~batch.completeAtStart(s:shareCount:end)), 1:shareCount));
  environment = sprintf('BATCH_MEX=%s BATCH_TOOLBOX=%s BATCH_OUT=%s OMP_NUM_THREADS=%d OPENBLAS_NUM_THREADS=%d', ...
                        shell_quote(fileparts(which('gastrel'))), ...
                        shell_quote(fileparts(fileparts(mfilename('fullpath')))), ...
                        shell_quote(batch.outFolder), settings.threads, settings.threads);
  if strcmp(options.runner, 'local')
    ids = arrayfun(@(s) start_worker(environment, files.logs, s, shareCount), shares);
  else
    ids = start_array(environment, files.logs, shares, shareCount, settings.threads, options);
  end
  partFiles = arrayfun(@(s) fullfile(files.parts, sprintf('share-%d-of-%d.csv', s, shareCount)), ...
                       shares, 'UniformOutput', false);
  watch(ids, partFiles, counts, settings);
  if strcmp(options.runner, 'slurm')
    report_array(files.logs);
  end
end

function id = start_worker(environment, logs, share, shareCount)
% Starts a worker process over one share; its output goes to logs/worker-<share>-of-<n>.log.
  code = sprintf(['addpath(getenv(''BATCH_MEX''), getenv(''BATCH_TOOLBOX'')); ' ...
                  'detect_share(getenv(''BATCH_OUT''), %d, %d, ''parent'', %d);'], ...
                 share, shareCount, process_id());
  logFile = fullfile(logs, sprintf('worker-%d-of-%d.log', share, shareCount));
  id = start_background(sprintf('%s %s > %s 2>&1 < /dev/null', environment, worker_command(code), ...
                                shell_quote(logFile)));
end

function id = start_array(environment, logs, shares, shareCount, threads, options)
% Submits the job array (task t takes share t + 1) and waits for it in the background
% (sbatch --wait, then until squeue lists none of its tasks); sbatch's output goes to
% logs/sbatch.out and its exit status to logs/sbatch.status.
  taskIds = strjoin(arrayfun(@(s) sprintf('%d', s - 1), shares, 'UniformOutput', false), ',');
  submit = sprintf(['%s BATCH_SHARES=%d BATCH_THREADS=%d sbatch --wait --array=%s ' ...
                    '--job-name=detect-faces --cpus-per-task=%d --output=%s %s %s'], ...
                   environment, shareCount, threads, taskIds, threads, ...
                   shell_quote(fullfile(logs, 'task-%a.out')), options.slurmOptions, ...
                   shell_quote(options.slurmScript));
  statusFile = fullfile(logs, 'sbatch.status');
  if exist(statusFile, 'file')
    delete(statusFile);
  end
  % sbatch --wait may return while tasks of an array are still queued or running (seen on
  % a one-node cluster), so the job is also watched in squeue until none of it is left.
  output = shell_quote(fullfile(logs, 'sbatch.out'));
  leftInQueue = sprintf(['job=$(awk ''/^Submitted batch job/ { print $4 }'' %s); ' ...
                         'while [ -n "$job" ] && squeue -h -j "$job" 2> /dev/null | grep -q .; ' ...
                         'do sleep 1; done'], output);
  id = start_background(sprintf('(%s > %s 2>&1 < /dev/null; status=$?; %s; echo $status > %s)', ...
                                submit, output, leftInQueue, shell_quote(statusFile)));
end

function id = start_background(command)
% Starts a shell command in the background and returns its process id.
  [status, printed] = system(sprintf('%s & echo $!', command));
  id = str2double(strtrim(printed));
  if status ~= 0 || isnan(id)
    error('detect_folder:cannotStart', 'detect_folder: cannot start %s: %s', command, printed);
  end
end

function watch(ids, partFiles, counts, settings)
% Waits for the processes to end, printing a progress line at most every progressInterval
% seconds from the outcomes they append to their parts.
  started = tic;
  lastChange = 0;
  shown = -1;
  offsets = cellfun(@file_size, partFiles);
  running = true;
  while running
    pause(settings.progressInterval);
    running = any(arrayfun(@process_alive, ids));
    before = counts.processed;
    for k = 1:numel(partFiles)
      [lines, offsets(k)] = new_lines(partFiles{k}, offsets(k));
      for j = 1:numel(lines)
        record = parse_index_line(lines{j});
        if ~isempty(record)
          counts.processed = counts.processed + 1;
          counts.failed = counts.failed + strcmp(record.status, 'failed');
        end
      end
    end
    if counts.processed > before
      lastChange = toc(started);
    end
    % A line when a photo has ended since the last one, and the last line; the rate counts
    % the time to the last photo that ended, not the time the workers take to exit.
    if settings.verbose >= 1 && (counts.processed > shown || ~running)
      ending = "\r";
      if ~running
        ending = "\n";
      end
      printf('detect_folder: %s%s', progress_line(counts, lastChange), ending);
      shown = counts.processed;
    end
  end
end

function bytes = file_size(file)
% The size of a file, 0 when it does not exist.
  listing = dir(file);
  bytes = 0;
  if numel(listing) == 1
    bytes = listing.bytes;
  end
end

function [lines, offset] = new_lines(file, offset)
% The whole lines appended to a file since offset, and the offset after the last of them.
  lines = {};
  [fid, ~] = fopen(file, 'r');
  if fid < 0
    return;
  end
  fseek(fid, offset, 'bof');
  text = fread(fid, Inf, 'char=>char')';
  fclose(fid);
  lastBreak = find(text == "\n", 1, 'last');
  if isempty(lastBreak)
    return;
  end
  lines = regexp(text(1:lastBreak), '[^\n]+', 'match');
  offset = offset + lastBreak;
end

function report_array(logs)
% Says when sbatch ended in failure, with what it printed.
  statusFile = fullfile(logs, 'sbatch.status');
  status = NaN;
  if exist(statusFile, 'file')
    status = str2double(fileread(statusFile));
  end
  if status ~= 0
    printf('detect_folder: sbatch ended with status %g: %s\n', status, ...
           strtrim(fileread(fullfile(logs, 'sbatch.out'))));
  end
end
