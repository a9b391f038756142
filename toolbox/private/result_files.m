function [csvFile, pictureFile] = result_files(outFolder, photo)
% RESULT_FILES  The CSV and the detection picture of a photo (its path relative to the photo
% folder) in a batch's output folder.
  files = batch_files(outFolder);
  csvFile = fullfile(files.detections, [photo '.csv']);
  pictureFile = fullfile(files.pictures, [photo '.png']);
end
