function summary = face_demo(varargin)
% FACE_DEMO  Learn a face template from LFW faces and find the faces in a photo.
%
%   face_demo()
%   face_demo('name', value, ...)
%   summary = face_demo(...)
%
%   Learns a template from the 100 aligned faces of dataDir/lfw_subset.npy (with their
%   mirror images; the 100 non-face patches give the background statistics), or loads it
%   from templateFile when that file was learned with the same settings and data
%   (face_template), searches the scene for faces, and writes into outDir:
%     template.png    the template's common sketch beside training faces and their sketches
%     detections.png  the scene with every detection's deformed template, box and rank, and
%                     the reference boxes in another colour
%     detections.csv  row,col,height,width,score per detection, in the order found
%     summary.txt     the scene, the sizes searched, the count asked, the settings other
%                     than the defaults, where the template came from, elements learned,
%                     detections made, matches, precision and recall, stage times
%     template.mat    the learned template (save_template), unless templateFile names
%                     another file
%   fetch-data.sh fills the data folder (make demo runs it; the script is in scripts/ of
%   the source tree and beside face_demo.m in the package).
%
%   Options (name/value pairs):
%     dataDir        folder of the data (default 'data').
%     outDir         output folder, made if missing (default 'out').
%     templateFile   the template's MAT file, loaded when its settings and data match and
%                    written otherwise (default: template.mat in outDir).
%     scene          image file to search (default: the Solvay 1927 photo in dataDir).
%     faceRange      [smallest largest] face height in pixels, searched at five sizes evenly
%                    spaced in log scale (default: every size from detector_settings'
%                    smallestFace up to the photo's shorter side).
%     referenceFile  reference face boxes to score the detections against
%                    (read_reference_boxes; default: the Solvay photo's own when the scene
%                    is that photo, none otherwise).
%   and any setting of detector_settings (detectionCount, elementCount, verbose, ...).
%   Returns:
%     summary        the lines of summary.txt, a cell array of text.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh data) and the plug-ins built:
%     if exist('data/lfw_subset.npy', 'file')
%       % rerank 0: the template alone, without learning its re-ranking model (a minute)
%       lines = face_demo('outDir', fullfile(tempdir, 'demo'), 'rerank', 0, 'verbose', 0);
%       printf('%s\n', lines{1:3});
%     end

  [demo, settingArgs] = demo_options(varargin);
  settings = resolve_settings('face_demo', settingArgs);
  faceSizesGiven = ~isempty(demo.faceRange);
  if faceSizesGiven
    scaleCount = demo.scaleCount;
    if demo.faceRange(1) == demo.faceRange(end)
      scaleCount = 1;                   % one size given is searched once
    end
    settings.faceSizes = exp(linspace(log(demo.faceRange(1)), log(demo.faceRange(end)), scaleCount));
  end
  % These are the demo's own choices, beside detector_settings' defaults.
  matchRadius = 25;             % a detection matches a reference centre this close (pixels)
  ignoredReferences = 1;        % reference boxes marking no face (the Solvay file's first: wall)
  reportAt = [10 20 29 40];     % precision and recall are reported at these counts
  templateFacesShown = 6;       % training faces shown in template.png
  templateZoom = 4;             % enlargement of template.png

  faceFile = fullfile(demo.dataDir, 'lfw_subset.npy');
  if ~exist(faceFile, 'file')
    error('face_demo:noData', ['face_demo: %s is missing: fill the data folder with ' ...
          'fetch-data.sh %s (in scripts/ of the source tree, beside face_demo.m in the ' ...
          'package)'], faceFile, demo.dataDir);
  end
  stageNames = {}; stageTimes = [];
  started = tic;
  faces = training_data(demo.dataDir).faces;
  image = read_image(demo.scene);
  references = zeros(0, 4);
  if ~isempty(demo.referenceFile)
    references = read_reference_boxes(demo.referenceFile);
    references(ignoredReferences(ignoredReferences <= size(references, 1)), :) = [];
  end
  % Refuse a search that cannot work now, not after learning.
  quiet = settings;
  quiet.verbose = 0;
  [~, plan] = plan_scales(size(image, 1), size(image, 2), settings.templateSize, ...
                          settings.templateSize, settings, quiet);
  [stageNames, stageTimes] = stage(stageNames, stageTimes, 'reading data', started);

  if ~exist(demo.outDir, 'dir') && ~mkdir(demo.outDir)
    error('face_demo:cannotWrite', 'face_demo: cannot make the output folder %s', demo.outDir);
  end
  started = tic;
  [template, filters, stamps, learned] = face_template(demo.templateFile, 'dataDir', demo.dataDir, ...
                                                       settings);
  templateStages = {'template (loaded)', 'template (learned)'};
  [stageNames, stageTimes] = stage(stageNames, stageTimes, templateStages{learned + 1}, started);

  started = tic;
  say(settings.verbose, 'Searching %s (%d x %d) for up to %d detections, faces of %s\n', ...
      demo.scene, size(image, 1), size(image, 2), settings.detectionCount, ...
      sizes_text(plan.faceSizes, settings));
  [detections, ~, report] = detect_faces(image, template, filters, stamps, settings);
  [stageNames, stageTimes] = stage(stageNames, stageTimes, 'detection', started);

  started = tic;
  write_png(fullfile(demo.outDir, 'template.png'), ...
            draw_template(template, faces, templateFacesShown, templateZoom));
  write_png(fullfile(demo.outDir, 'detections.png'), draw_detections(image, detections, references));
  write_csv(fullfile(demo.outDir, 'detections.csv'), detections);
  [stageNames, stageTimes] = stage(stageNames, stageTimes, 'drawing and writing', started);

  summary = [search_lines(demo, settings, report), {template_line(demo.templateFile, learned)}, ...
             result_lines(template, detections, report, references, matchRadius, reportAt), ...
             time_lines(stageNames, stageTimes)];
  file = fopen(fullfile(demo.outDir, 'summary.txt'), 'w');
  if file < 0
    error('face_demo:cannotWrite', 'face_demo: cannot write %s', fullfile(demo.outDir, 'summary.txt'));
  end
  fprintf(file, '%s\n', summary{:});
  fclose(file);
  say(settings.verbose, '%s\n', summary{:});
  say(settings.verbose, 'Wrote template.png, detections.png, detections.csv and summary.txt into %s\n', ...
      demo.outDir);
  if learned
    say(settings.verbose, 'Saved the template to %s\n', demo.templateFile);
  end
end

function [demo, rest] = demo_options(args)
% The demo's own options, taken out of the argument list; the rest are settings.
  demo = struct('dataDir', 'data', 'outDir', 'out', 'scene', '', 'faceRange', [], ...
                'referenceFile', [], 'templateFile', '', 'scaleCount', 5);
  textOptions = {'dataDir', 'outDir', 'scene', 'referenceFile', 'templateFile'};
  rest = {};
  if mod(numel(args), 2) ~= 0
    error('face_demo:badArgument', 'face_demo: options come as name/value pairs; got an odd count (%d)', ...
          numel(args));
  end
  for k = 1:2:numel(args)
    name = args{k};
    value = args{k + 1};
    if ischar(name) && any(strcmp(name, textOptions))
      if ~ischar(value)
        error('face_demo:badOption', 'face_demo: option ''%s'' must be text; got a %s', name, class(value));
      end
      demo.(name) = value;
    elseif ischar(name) && strcmp(name, 'faceRange')
      if ~isnumeric(value) || ~any(numel(value) == [1 2]) || ~all(isfinite(value)) || ...
         any(value <= 0) || value(1) > value(end)
        error('face_demo:badOption', ['face_demo: option ''faceRange'' must be one or two ' ...
              'face heights in pixels, greater than 0, the smallest first; got %s'], ...
              mat2str(value));
      end
      demo.faceRange = double(value);
    else
      rest(end + 1:end + 2) = {name, value};
    end
  end
  defaultScene = fullfile(demo.dataDir, '1280px-Solvay_conference_1927.png');
  if isempty(demo.scene)
    demo.scene = defaultScene;
  end
  if isempty(demo.templateFile)
    demo.templateFile = fullfile(demo.outDir, 'template.mat');
  end
  if isnumeric(demo.referenceFile)
    demo.referenceFile = '';
    if same_file(demo.scene, defaultScene)
      demo.referenceFile = fullfile(demo.dataDir, 'ground_truth_detection.txt');
    end
  end
end

function same = same_file(a, b)
% Whether two names lead to one existing file.
  [okA, infoA] = fileattrib(a);
  [okB, infoB] = fileattrib(b);
  same = okA && okB && strcmp(infoA.Name, infoB.Name);
end


function write_png(file, picture)
% Writes a picture of values in [0, 1] as an 8-bit PNG (imwrite would write doubles with 16
% bits). Octave's writer compresses at a low level when asked: five times faster than its
% default, for files no larger.
  bytes = uint8(round(255 * min(max(picture, 0), 1)));
  if exist('OCTAVE_VERSION', 'builtin')
    fastCompression = 30;
    imwrite(bytes, file, 'Quality', fastCompression);
  else
    imwrite(bytes, file);
  end
end

function [names, times] = stage(names, times, name, started)
% Appends a stage's name and elapsed time.
  names{end + 1} = name;
  times(end + 1) = toc(started);
end

function write_csv(file, detections)
% One row per detection: box centre (1-based), box size and score.
  fid = fopen(file, 'w');
  if fid < 0
    error('face_demo:cannotWrite', 'face_demo: cannot write %s', file);
  end
  fprintf(fid, 'row,col,height,width,score\n');
  for d = 1:numel(detections)
    fprintf(fid, '%.1f,%.1f,%.1f,%.1f,%.4f\n', detections(d).row, detections(d).col, ...
            detections(d).height, detections(d).width, detections(d).score);
  end
  fclose(fid);
end

function lines = search_lines(demo, settings, report)
% What was searched: the scene, the sizes, the count, and the settings other than defaults.
  lines = {sprintf('scene: %s', demo.scene), ...
           sprintf('face sizes searched: %s', sizes_text(report.faceSizes, settings))};
  if ~isempty(report.skippedSizes)
    lines{end + 1} = sprintf('face sizes skipped (larger than the image): %s pixels', ...
                             mat2str(round(report.skippedSizes)));
  end
  lines{end + 1} = sprintf('detections asked: up to %d', settings.detectionCount);
  defaults = detector_settings();
  changed = {};
  for name = fieldnames(defaults)'
    if ~any(strcmp(name{1}, {'faceSizes', 'detectionCount'})) && ...
       ~isequal(settings.(name{1}), defaults.(name{1}))
      changed{end + 1} = sprintf('%s %s', name{1}, mat2str(settings.(name{1}), 4));
    end
  end
  if isempty(changed)
    changed = {'none'};
  end
  lines{end + 1} = ['settings other than the defaults: ', strjoin(changed, ', ')];
end

function text = sizes_text(sizes, settings)
% The face sizes of a search in words: listed when given, as a range when automatic.
  if isempty(settings.faceSizes)
    text = sprintf('every size from %.0f to %.0f pixels (%d sizes, %g apart)', min(sizes), ...
                   max(sizes), numel(sizes), settings.sizeStep);
  else
    text = sprintf('%s pixels', mat2str(round(sizes)));
  end
end

function line = template_line(file, learned)
% Where the template came from.
  if learned
    line = sprintf('template: learned and saved to %s', file);
  else
    line = sprintf('template: loaded from %s (learned earlier with the same settings and data)', file);
  end
end

function lines = result_lines(template, detections, report, references, radius, reportAt)
% Elements learned, detections made and, with reference boxes, matches, precision and recall.
  lines = {template_summary(template), sprintf('detections made: %d', numel(detections))};
  if ~isempty(report.stopReason)
    lines{end} = [lines{end}, sprintf(' (stopped: %s)', report.stopReason)];
  end
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
end

function lines = time_lines(names, times)
% The time of each stage and the total.
  lines = {};
  for k = 1:numel(names)
    lines{end + 1} = sprintf('time %-20s %6.2f s', [names{k} ':'], times(k));
  end
  lines{end + 1} = sprintf('time %-20s %6.2f s', 'total:', sum(times));
end
