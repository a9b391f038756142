function face_demo(scene, outDir, faceRange, detectionCount, dataDir, referenceFile)
% FACE_DEMO  Learn a face template from LFW faces and find the faces in a photo.
%
%   face_demo(scene, outDir, faceRange, detectionCount, dataDir, referenceFile)
%
%   Learns a template from the aligned faces of dataDir/lfw_subset.npy (with their mirror
%   images; the non-face patches give the background statistics), searches the scene for
%   faces of heights faceRange(1) ... faceRange(2) pixels, and writes into outDir:
%     template.png    the template's common sketch beside training faces and their sketches
%     detections.png  the scene with every detection's deformed template and box, and the
%                     reference boxes in another colour
%     detections.csv  row,col,height,width,score per detection, in the order found
%     summary.txt     elements, detections, matches, precision and recall, stage times
%   referenceFile ('' for none) holds reference face boxes (read_reference_boxes).
%   Needs the MEX folder and the toolbox folder on the path.
%
%   Example:
%     addpath('build/mex', 'build/toolbox', 'scripts');
%     face_demo('data/1280px-Solvay_conference_1927.png', 'out', [36 63], 40, 'data', ...
%               'data/ground_truth_detection.txt');

  % ---- Parameters: every setting of learning and detection ----
  p.orientCount = 8;            % filter orientations over 180 degrees
  p.filterHalf = 4;             % filters and stamps are (2*4+1) pixels square
  p.wavelength = 5;             % period of the Gabor wave, pixels
  p.templateSize = 40;          % training faces are resized to this many pixels square
  p.poolStep = 2;               % pooled maps keep every 2nd pixel
  p.posShiftMax = 1;            % an element may move 1 pooled step across its edge
  p.orientShiftMax = 1;         % and turn by 1 orientation
  p.saturationLevel = 3;        % normalized energies saturate at 3 (s*tanh(r/s))
  p.elementCount = 40;          % elements learned into the template
  p.overlapThreshold = 0.1;     % filters correlated above this inhibit each other
  % normalizer window (half width): the largest that fits the template inside the filter margin
  p.normalizerHalf = floor((p.templateSize - 1) / 2) - p.filterHalf;
  p.relativeFloor = 0.1;        % local means below 0.1 x the largest are raised to it
  p.binCount = 60;              % background density bins over [0, saturationLevel)
  p.lambdaStep = 0.01;          % grid of element weights: 0, 0.01, ... ,
  p.lambdaMax = 10;             % up to 10
  scaleCount = 5;               % face heights searched, spaced evenly in log scale
  scoreThreshold = -Inf;        % stop early when the best score falls below this
  exclusionRadius = 0.75;       % no detection centred within 0.75 x an earlier one's height
  matchRadius = 25;             % a detection matches a reference centre this close (pixels)
  ignoredReferences = 1;        % reference boxes marking no face (the Solvay file's first: wall)
  reportAt = [10 20 29 40];     % precision and recall are reported at these counts
  templateFacesShown = 6;       % training faces shown in template.png
  templateZoom = 4;             % enlargement of template.png
  % --------------------------------------------------------------

  stageNames = {}; stageTimes = [];
  started = tic;
  patches = permute(read_npy(fullfile(dataDir, 'lfw_subset.npy')), [2 3 1]);
  faces = patches(:, :, 1:100);
  faces = cat(3, faces, flip(faces, 2));
  nonFaces = patches(:, :, 101:200);
  image = read_grey(scene);
  references = zeros(0, 4);
  if ~isempty(referenceFile)
    references = read_reference_boxes(referenceFile);
    references(ignoredReferences(ignoredReferences <= size(references, 1)), :) = [];
  end
  [stageNames, stageTimes] = stage(stageNames, stageTimes, 'reading data', started);

  started = tic;
  [filters, stamps] = filter_bank(p.orientCount, p.filterHalf, p.wavelength);
  tables = background_tables(nonFaces, filters, p);
  [stageNames, stageTimes] = stage(stageNames, stageTimes, 'background tables', started);

  started = tic;
  printf('Learning %d elements from %d faces (mirror images included):\n', p.elementCount, ...
         size(faces, 3));
  template = learn_template(faces, filters, stamps, tables, p);
  [stageNames, stageTimes] = stage(stageNames, stageTimes, 'learning', started);

  started = tic;
  faceSizes = exp(linspace(log(faceRange(1)), log(faceRange(end)), scaleCount));
  printf('Searching %s for %d faces of %s pixels\n', scene, detectionCount, ...
         mat2str(round(faceSizes)));
  detections = detect_faces(image, template, filters, stamps, ...
                            struct('faceSizes', faceSizes, 'detectionCount', detectionCount, ...
                                   'scoreThreshold', scoreThreshold, ...
                                   'exclusionRadius', exclusionRadius));
  [stageNames, stageTimes] = stage(stageNames, stageTimes, 'detection', started);

  started = tic;
  if ~exist(outDir, 'dir')
    mkdir(outDir);
  end
  imwrite(to_bytes(draw_template(template, faces, templateFacesShown, templateZoom)), ...
          fullfile(outDir, 'template.png'));
  imwrite(to_bytes(draw_detections(image, detections, references)), ...
          fullfile(outDir, 'detections.png'));
  write_csv(fullfile(outDir, 'detections.csv'), detections);
  [stageNames, stageTimes] = stage(stageNames, stageTimes, 'drawing and writing', started);

  lines = summary_lines(template, detections, references, matchRadius, reportAt, ...
                        stageNames, stageTimes);
  file = fopen(fullfile(outDir, 'summary.txt'), 'w');
  fprintf(file, '%s\n', lines{:});
  fclose(file);
  printf('%s\n', lines{:});
  printf('Wrote template.png, detections.png, detections.csv and summary.txt into %s\n', outDir);
end

function image = read_grey(file)
% A grey image in [0, 1] from any PNG or JPEG, colour or grey, 8 or 16 bits.
  [image, map] = imread(file);
  if ~isempty(map)
    image = ind2rgb(image, map);
  elseif isinteger(image)
    image = double(image) / double(intmax(class(image)));
  end
  image = double(image);
  if size(image, 3) >= 3
    image = 0.299 * image(:, :, 1) + 0.587 * image(:, :, 2) + 0.114 * image(:, :, 3);
  end
end

function bytes = to_bytes(picture)
% An 8-bit picture from values in [0, 1] (imwrite would write doubles with 16 bits).
  bytes = uint8(round(255 * min(max(picture, 0), 1)));
end

function [names, times] = stage(names, times, name, started)
% Appends a stage's name and elapsed time.
  names{end + 1} = name;
  times(end + 1) = toc(started);
end

function write_csv(file, detections)
% One row per detection: box centre (1-based), box size and score.
  fid = fopen(file, 'w');
  fprintf(fid, 'row,col,height,width,score\n');
  for d = 1:numel(detections)
    fprintf(fid, '%.1f,%.1f,%.1f,%.1f,%.4f\n', detections(d).row, detections(d).col, ...
            detections(d).height, detections(d).width, detections(d).score);
  end
  fclose(fid);
end

function lines = summary_lines(template, detections, references, radius, reportAt, names, times)
% The text of summary.txt.
  lines = {sprintf('elements learned: %d', template.elementCount), ...
           sprintf('detections made: %d', numel(detections))};
  referenceCount = size(references, 1);
  if referenceCount > 0 && ~isempty(detections)
    centres = [[detections.row]', [detections.col]'];
    matched = match_detections(centres, references(:, 1:2) + (references(:, 3:4) - 1) / 2, radius);
    firstCount = min(referenceCount, numel(detections));
    lines{end + 1} = sprintf('faces found among the first %d detections: %d of %d', ...
                             referenceCount, sum(matched(1:firstCount)), referenceCount);
    for n = reportAt(reportAt <= numel(detections))
      found = sum(matched(1:min(n, end)));
      lines{end + 1} = sprintf('at %2d detections: precision %.3f  recall %.3f  (%d found)', ...
                               n, found / n, found / referenceCount, found);
    end
  else
    lines{end + 1} = 'no reference boxes: detections not scored';
  end
  for k = 1:numel(names)
    lines{end + 1} = sprintf('time %-20s %6.2f s', [names{k} ':'], times(k));
  end
  lines{end + 1} = sprintf('time %-20s %6.2f s', 'total:', sum(times));
end
