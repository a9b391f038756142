function [seconds, cpuSeconds, fastest] = time_detection(dataDir, runs, enlargement, faceRange, rerank)
% TIME_DETECTION  Median time of detect_faces on the Solvay 1927 photo, at the demo's settings.
%
%   [seconds, cpuSeconds] = time_detection(dataDir, runs, enlargement)
%   [seconds, cpuSeconds] = time_detection(dataDir, runs, enlargement, faceRange)
%   [seconds, cpuSeconds] = time_detection(dataDir, runs, enlargement, faceRange, rerank)
%   [seconds, cpuSeconds, fastest] = time_detection(...)
%
%   Has face_demo's template (learn_demo_template, not timed), reads the photo the demo
%   searches, enlarges it by bilinear interpolation to enlargement times its side (1 keeps
%   it; not timed), then, after one untimed call, times runs calls of detect_faces with the
%   default settings, which are the demo's: every face size from 24 pixels up to the
%   photo's shorter side, up to 40 detections; or, given faceRange [smallest largest], five
%   sizes from the smallest to the largest, evenly spaced in log scale, as make demo's FACES
%   searches them. faceRange [] searches every size; rerank 0 times the template's search
%   alone, without the re-ranking of its candidates (1, the default). With faceRange, an
%   enlarged photo is searched at the same sizes, so that the search covers enlargement^2
%   times the pixels. Returns the median of the runs' elapsed times, the median of their
%   processor times (all threads of Octave added), and the shortest elapsed time, in seconds:
%   on a shared machine, other work only ever lengthens a run.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh data) and the plug-ins built:
%     printf('detect_faces: %.2f s\n', time_detection('data', 1, 1));

  [template, filters, stamps] = learn_demo_template(dataDir);
  image = enlarged(read_image(fullfile(dataDir, '1280px-Solvay_conference_1927.png')), enlargement);
  settings = detector_settings('verbose', 0);
  sizesSearched = 5;
  if nargin > 4
    settings.rerank = rerank;
  end
  if nargin > 3 && ~isempty(faceRange)
    settings.faceSizes = exp(linspace(log(faceRange(1)), log(faceRange(end)), sizesSearched));
  end
  % One search first, not timed: the first call also loads the plug-ins and the toolbox's
  % functions and takes its memory fresh from the system.
  detect_faces(image, template, filters, stamps, settings);
  times = zeros(1, runs);
  cpuTimes = zeros(1, runs);
  for k = 1:runs
    started = tic;
    cpuStarted = cputime();
    detect_faces(image, template, filters, stamps, settings);
    times(k) = toc(started);
    cpuTimes(k) = cputime() - cpuStarted;
  end
  seconds = median(times);
  fastest = min(times);
  cpuSeconds = median(cpuTimes);
end

function image = enlarged(image, factor)
% The image resampled to factor times its side, bilinearly (pixel centres kept in place).
  [rows, cols] = size(image);
  sampleRows = ((1:round(rows * factor))' - 0.5) / factor + 0.5;
  sampleCols = ((1:round(cols * factor)) - 0.5) / factor + 0.5;
  image = interp2(image, min(max(sampleCols, 1), cols), min(max(sampleRows, 1), rows), 'linear');
end
