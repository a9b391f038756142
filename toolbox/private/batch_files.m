function files = batch_files(outFolder)
% BATCH_FILES  The files and folders of a batch in its output folder:
%   batch      batch.mat: the photo folder, the template file and the settings
%   list       photos.txt: the photos, one path a line, relative to the photo folder
%   lock       batch.lock: the process id and host of the batch running there
%   log        batch.log: what each run did, photo by photo, and its summary
%   index      index.csv: one row per photo of the list, with its outcome
%   parts      parts/: each share's outcomes, a line appended per photo as it ends
%   detections detections/: each photo's CSV, at its path in the photo folder plus .csv
%   pictures   pictures/: each photo's detection picture, its path plus .png
%   logs       logs/: the output of each worker process or cluster task
  names = {'batch', 'batch.mat'; 'list', 'photos.txt'; 'lock', 'batch.lock'; ...
           'log', 'batch.log'; 'index', 'index.csv'; 'parts', 'parts'; ...
           'detections', 'detections'; 'pictures', 'pictures'; 'logs', 'logs'};
  files = struct();
  for k = 1:size(names, 1)
    files.(names{k, 1}) = fullfile(outFolder, names{k, 2});
  end
end
