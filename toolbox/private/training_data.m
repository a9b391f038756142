function data = training_data(dataDir)
% TRAINING_DATA  The demo's training data from dataDir/lfw_subset.npy: faces (the first 100
% patches with their mirror images), nonFaces (the other 100, for the background tables)
% and description (file, faceCount, nonFaceCount and a checksum of every patch, which
% face_template stores with a template and compares before reusing it). A missing file is
% refused with face_template:noData.
  faceCount = 100;
  file = fullfile(dataDir, 'lfw_subset.npy');
  if ~exist(file, 'file')
    error('face_template:noData', ['face_template: %s is missing: fill the data folder with ' ...
          'fetch-data.sh %s (in scripts/ of the source tree, beside face_demo.m in the ' ...
          'package)'], file, dataDir);
  end
  patches = permute(read_npy(file), [2 3 1]);
  faces = patches(:, :, 1:faceCount);
  data.faces = cat(3, faces, flip(faces, 2));
  data.nonFaces = patches(:, :, faceCount + 1:end);
  data.description = struct('file', 'lfw_subset.npy', 'faceCount', size(data.faces, 3), ...
                            'nonFaceCount', size(data.nonFaces, 3), ...
                            'checksum', checksum(patches));
end

function sums = checksum(values)
% Two sums over the 16-bit words of the values, the second weighted by position: both are
% whole numbers below 2^53, so they are exact whatever order they are added in.
  modulus = 65521;
  words = double(typecast(values(:), 'uint16'));
  positions = mod((0:numel(words) - 1)', modulus) + 1;
  sums = [sum(words), sum(words .* positions)];
end
