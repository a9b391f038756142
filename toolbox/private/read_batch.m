function batch = read_batch(caller, outFolder)
% READ_BATCH  The batch prepared in an output folder (detect_folder writes it): the fields of
% batch.mat (inFolder, templateFile, settings, completeAtStart) with outFolder and photos,
% the list of photos.txt. Refuses with <caller>:noBatch when there is none.
  files = batch_files(outFolder);
  if ~exist(files.batch, 'file') || ~exist(files.list, 'file')
    error([caller ':noBatch'], ['%s: %s holds no prepared batch (batch.mat and photos.txt): ' ...
          'start it with detect_folder'], caller, outFolder);
  end
  saved = load(files.batch);
  batch = saved.batch;
  batch.outFolder = outFolder;
  text = fileread(files.list);
  batch.photos = regexp(text, '[^\n]+', 'match');
end
