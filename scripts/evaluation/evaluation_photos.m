function photos = evaluation_photos(dataDir, labelsFile)
% EVALUATION_PHOTOS  The photos make evaluate scores, each with its faces and how to score them.
%
%   photos = evaluation_photos(dataDir, labelsFile)
%
%   The development set: the PASCAL VOC photos named by dataDir/training.xml with its
%   hand-drawn boxes, then the photos of labelsFile (scripts/development-faces.txt); a
%   detection finds a face when its centre lies within half the face's height of the face's
%   centre. Then both Solvay 1927 scans with the 29 reference faces of
%   dataDir/ground_truth_detection.txt (its first box marks wall, not a face): the photo the
%   demo searches, scored as the demo scores it (within 25 pixels), and the other scan, to
%   which the reference centres are mapped by x 0.76 and then +1 row and +44 columns, scored
%   within 19 pixels.
%
%   Returns a struct array with fields name (the photo's file name), file (its path), group
%   ('development' or 'Solvay'), source (the labels file's name), centres (n x 2 [row,
%   col]), radius (one, or one per face) and faceRange ([smallest, largest] labelled face
%   height, pixels).
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh --development data):
%     photos = evaluation_photos('data', 'scripts/development-faces.txt');
%     printf('%s: %d faces\n', photos(1).name, rows(photos(1).centres));

  photos = [development_photos(dataDir, fullfile(dataDir, 'training.xml')), ...
            development_photos(dataDir, labelsFile), solvay_photos(dataDir)];
end

function photos = development_photos(dataDir, labelsFile)
% The labelled photos of one labels file, scored within half of each face's height.
  labels = read_face_labels(labelsFile);
  [~, name, extension] = fileparts(labelsFile);
  photos = struct('name', {}, 'file', {}, 'group', {}, 'source', {}, 'centres', {}, ...
                  'radius', {}, 'faceRange', {});
  for k = 1:numel(labels)
    heights = labels(k).heights;
    photos(k) = struct('name', labels(k).photo, 'file', fullfile(dataDir, labels(k).photo), ...
                       'group', 'development', 'source', [name, extension], ...
                       'centres', labels(k).centres, 'radius', heights / 2, ...
                       'faceRange', [min(heights), max(heights)]);
  end
end

function photos = solvay_photos(dataDir)
% Both Solvay scans, with the reference faces mapped to each.
  wallBoxes = 1;                % the reference file's first box marks wall, not a face
  demoRadius = 25;              % face_demo's matching distance on the photo it searches
  scanFactor = 0.76;            % the other scan's size over the searched photo's
  scanOffset = [1 44];          % and where the searched photo's origin lies in it (rows, cols)
  scanRadius = 19;
  boxes = read_reference_boxes(fullfile(dataDir, 'ground_truth_detection.txt'));
  boxes(wallBoxes, :) = [];
  centres = boxes(:, 1:2) + (boxes(:, 3:4) - 1) / 2;
  faceRange = [min(boxes(:, 3)), max(boxes(:, 3))];
  main = '1280px-Solvay_conference_1927.png';
  scan = 'Solvay_conference_1927_Version2_1024x705.jpg';
  photos = struct('name', {main, scan}, 'file', {fullfile(dataDir, main), fullfile(dataDir, scan)}, ...
                  'group', 'Solvay', 'source', 'ground_truth_detection.txt', ...
                  'centres', {centres, centres * scanFactor + scanOffset}, ...
                  'radius', {demoRadius, scanRadius}, ...
                  'faceRange', {faceRange, faceRange * scanFactor});
end
