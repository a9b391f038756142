function [seconds, cpuSeconds] = time_detection(dataDir, runs, enlargement)
% TIME_DETECTION  Median time of detect_faces on the Solvay 1927 photo, at the demo's settings.
%
%   [seconds, cpuSeconds] = time_detection(dataDir, runs, enlargement)
%
%   Learns face_demo's template once (learn_demo_template, not timed), reads the photo the
%   demo searches, enlarges it by bilinear interpolation to enlargement times its side
%   (1 keeps it; not timed), then times runs calls of detect_faces with the default
%   settings, which are the demo's: faces of 36 to 63 pixels, up to 40 detections. On an
%   enlarged photo the same face sizes are searched, so that the search covers enlargement^2
%   times the pixels. Returns the median of the runs' elapsed times, and the median of
%   their processor times (all threads of Octave added), in seconds.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh data) and the plug-ins built:
%     printf('detect_faces: %.2f s\n', time_detection('data', 1, 1));

  [template, filters, stamps] = learn_demo_template(dataDir);
  image = enlarged(read_image(fullfile(dataDir, '1280px-Solvay_conference_1927.png')), enlargement);
  settings = detector_settings('verbose', 0);
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
  cpuSeconds = median(cpuTimes);
end

function image = enlarged(image, factor)
% The image resampled to factor times its side, bilinearly (pixel centres kept in place).
  [rows, cols] = size(image);
  sampleRows = ((1:round(rows * factor))' - 0.5) / factor + 0.5;
  sampleCols = ((1:round(cols * factor)) - 0.5) / factor + 0.5;
  image = interp2(image, min(max(sampleCols, 1), cols), min(max(sampleRows, 1), rows), 'linear');
end
