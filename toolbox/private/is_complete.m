function complete = is_complete(batch, photo)
% IS_COMPLETE  True when a photo of the batch has its result: its CSV (and its picture, when
% the batch draws them) exists, and is no older than the photo and the template file. A
% result is only ever renamed into place once written whole, so an existing one is whole.
  [csvFile, pictureFile] = result_files(batch.outFolder, photo);
  sources = max(modified_time(fullfile(batch.inFolder, photo)), modified_time(batch.templateFile));
  complete = modified_time(csvFile) >= sources;
  if complete && batch.settings.pictures
    complete = modified_time(pictureFile) >= sources;
  end
end
