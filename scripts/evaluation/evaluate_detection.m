function results = evaluate_detection(varargin)
% EVALUATE_DETECTION  Score detect_faces, and the Haar cascade when it runs, on labelled photos.
%
%   results = evaluate_detection()
%   results = evaluate_detection('name', value, ...)
%
%   Learns face_demo's template and its re-ranking model once (learn_demo_template), then
%   on every photo of evaluation_photos (the development set and both Solvay scans) makes N
%   detections, N the number of the photo's faces, in three runs: the template alone, given
%   the photo's face sizes (five sizes from its smallest to its largest labelled face
%   height, evenly spaced in log scale, as face_demo's faceRange; one size when they are
%   equal); re-ranked, given those sizes; and re-ranked at detector_settings' default,
%   every size from smallestFace up to the photo's shorter side (what make demo searches
%   without FACES). Each run, and the Haar cascade's ranked detections when a peer script is
%   given, is scored by score_detections: faces found among the first N detections,
%   precision and recall at N. Prints a line per photo as it is scored, then the totals and
%   each run's seconds per photo.
%
%   Options (name/value pairs):
%     dataDir     the data cache, filled by fetch-data.sh --development (default 'data').
%     labelsFile  the hand labels of the development photos that have no boxes of their
%                 own (default 'scripts/development-faces.txt').
%     peerScript  scripts/peers/haar_faces.py to score the Haar cascade too; '' (the
%                 default) leaves it out.
%   Returns a struct array, one per photo: name, group, source, faceCount, and
%   templateOnly, givenSizes, everySize and haar (empty without a peer script), each a
%   struct of found, scoredCount (the detections scored), precision, recall, note (why the
%   run made no detections, or '') and seconds.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh --development data) and the plug-ins
%     % built (make evaluate runs this, with the Haar cascade):
%     results = evaluate_detection('dataDir', 'data');
%     printf('%d photos scored\n', numel(results));

  options = evaluation_options(varargin);
  started = tic;
  [template, filters, stamps] = learn_demo_template(options.dataDir);
  printf(['Template and re-ranking model as face_demo learns them: %d elements, a model of ' ...
          '%d faces and %d non-face windows (%.1f s)\n'], template.elementCount, ...
         template.ranker.faceCount, template.ranker.nonFaceCount, toc(started));
  photos = evaluation_photos(options.dataDir, options.labelsFile);
  runNames = {'templateOnly', 'givenSizes', 'everySize'};
  if ~isempty(options.peerScript)
    runNames{end + 1} = 'haar';
  end
  print_header(runNames);
  results = struct('name', {}, 'group', {}, 'source', {}, 'faceCount', {}, ...
                   'templateOnly', {}, 'givenSizes', {}, 'everySize', {}, 'haar', {});
  for k = 1:numel(photos)
    results(k) = evaluate_photo(photos(k), template, filters, stamps, options.peerScript);
    print_line(photos(k).name, results(k).faceCount, size_text(photos(k).faceRange), ...
               cellfun(@(name) results(k).(name), runNames, 'UniformOutput', false));
  end
  print_totals(results, runNames);
  print_notes(results, runNames);
  print_times(results, runNames);
  printf('Total time %.1f s\n', toc(started));
end

function options = evaluation_options(args)
% The options, checked, with their defaults.
  options = struct('dataDir', 'data', 'labelsFile', fullfile('scripts', 'development-faces.txt'), ...
                   'peerScript', '');
  if mod(numel(args), 2) ~= 0
    error('evaluate_detection:badArgument', ['evaluate_detection: options come as ' ...
          'name/value pairs; got an odd count (%d)'], numel(args));
  end
  for k = 1:2:numel(args)
    if ~ischar(args{k}) || ~isfield(options, args{k}) || ~ischar(args{k + 1})
      error('evaluate_detection:badOption', ['evaluate_detection: the options are dataDir, ' ...
            'labelsFile and peerScript, each given as text']);
    end
    options.(args{k}) = args{k + 1};
  end
end

function result = evaluate_photo(photo, template, filters, stamps, peerScript)
% The runs on one photo, scored.
  scaleCount = 5;               % sizes searched from the smallest to the largest labelled
  image = read_image(photo.file);
  faceCount = rows(photo.centres);
  givenSizes = unique(exp(linspace(log(photo.faceRange(1)), log(photo.faceRange(2)), scaleCount)));
  quiet = detector_settings('verbose', 0, 'detectionCount', faceCount);
  given = detector_settings(quiet, 'faceSizes', givenSizes);
  result = struct('name', photo.name, 'group', photo.group, 'source', photo.source, ...
                  'faceCount', faceCount);
  result.templateOnly = our_run(image, photo, template, filters, stamps, ...
                                detector_settings(given, 'rerank', 0));
  result.givenSizes = our_run(image, photo, template, filters, stamps, given);
  result.everySize = our_run(image, photo, template, filters, stamps, quiet);
  result.haar = [];
  if ~isempty(peerScript)
    started = tic;
    [centres, failure] = haar_detections(peerScript, photo.file);
    result.haar = scored(centres, photo, failure, toc(started));
  end
end

function score = our_run(image, photo, template, filters, stamps, settings)
% detect_faces on the photo, scored; a refused search scores nothing and says why.
  started = tic;
  try
    detections = detect_faces(image, template, filters, stamps, settings);
    score = scored(centres_of(detections), photo, '', toc(started));
  catch failure
    score = scored(zeros(0, 2), photo, failure.message, toc(started));
  end
end

function centres = centres_of(detections)
% The detections' centres, n x 2 [row, col].
  centres = reshape([[detections.row]', [detections.col]'], [], 2);
end

function score = scored(centres, photo, note, seconds)
% The figures of one run.
  [found, precision, recall, matched] = score_detections(reshape(centres, [], 2), ...
                                                         photo.centres, photo.radius);
  score = struct('found', found, 'scoredCount', numel(matched), 'precision', precision, ...
                 'recall', recall, 'note', note, 'seconds', seconds);
end

function print_header(runNames)
% The table's header lines.
  titles = struct('templateOnly', 'template, given sizes', 'givenSizes', 're-ranked, given', ...
                  'everySize', 're-ranked, every size', 'haar', 'Haar cascade');
  defaults = detector_settings();
  printf(['\nFaces found among the first N detections (N = the faces in the photo), ' ...
          'precision and recall at N.\n']);
  printf(['ours: face_demo''s template alone, given the sizes of the photo''s labelled faces ' ...
          '(smallest to largest);\nre-ranked by its model (max(%gN, %d) candidates), given ' ...
          'those sizes, and at every size from %g pixels\nup to the photo''s shorter side ' ...
          '(the default, what make demo searches without FACES).\n'], ...
         defaults.candidateFactor, defaults.candidateMinimum, defaults.smallestFace);
  if any(strcmp(runNames, 'haar'))
    printf(['Haar cascade: OpenCV''s haarcascade_frontalface_default.xml, detectMultiScale ' ...
            'at its defaults on the grey photo,\nranked by the level weights of ' ...
            'detectMultiScale3 (outputRejectLevels), highest first.\n']);
  end
  printf('%-44s %5s %7s', '', '', '');
  for k = 1:numel(runNames)
    printf('   %-21s', titles.(runNames{k}));
  end
  printf('\n%s\n', column_titles(runNames));
end

function line = column_titles(runNames)
% The line naming the table's columns.
  line = [sprintf('%-44s %5s %7s', 'photo', 'faces', 'sizes'), ...
          repmat('   found  prec.  recall', 1, numel(runNames))];
end

function print_line(title, faceCount, sizes, scores)
% One line of the table: a photo or a total.
  printf('%-44s %5d %7s', title, faceCount, sizes);
  for k = 1:numel(scores)
    printf('   %5d  %5s  %6s', scores{k}.found, share_text(scores{k}.precision), ...
           share_text(scores{k}.recall));
  end
  printf('\n');
end

function text = share_text(value)
% A share with two decimals, '-' when there is none.
  text = '-';
  if ~isnan(value)
    text = sprintf('%.2f', value);
  end
end

function text = size_text(faceRange)
% "37-44" (pixels), or one size.
  text = sprintf('%.0f-%.0f', faceRange);
  if round(faceRange(2)) == round(faceRange(1))
    text = sprintf('%.0f', faceRange(1));
  end
end

function print_totals(results, runNames)
% Totals over the photos of training.xml and over the whole development set.
  boxed = strcmp({results.source}, 'training.xml');
  development = strcmp({results.group}, 'development');
  printf('%s\n', repmat('-', 1, numel(column_titles(runNames))));
  print_total(results(boxed), runNames, sprintf('the %d photos of training.xml', sum(boxed)));
  print_total(results(development), runNames, ...
              sprintf('the development set, %d photos', sum(development)));
end

function print_total(results, runNames, title)
% One line of totals: faces found of all faces; precision over all detections scored.
  faceCount = sum([results.faceCount]);
  totals = cell(size(runNames));
  for k = 1:numel(runNames)
    scores = [results.(runNames{k})];
    found = sum([scores.found]);
    totals{k} = struct('found', found, 'precision', found / sum([scores.scoredCount]), ...
                       'recall', found / faceCount);
  end
  print_line(title, faceCount, '', totals);
end

function print_notes(results, runNames)
% Why a run made no detections, when one did not.
  for k = 1:numel(results)
    for name = runNames
      note = results(k).(name{1}).note;
      if ~isempty(note)
        printf('%s, %s: %s\n', results(k).name, name{1}, note);
      end
    end
  end
end

function print_times(results, runNames)
% Each run's seconds per photo (the Haar cascade's include starting Python).
  printf('\nSeconds per photo:\n%-44s', 'photo');
  printf(' %21s', runNames{:});
  printf('\n');
  for k = 1:numel(results)
    printf('%-44s', results(k).name);
    for name = runNames
      printf(' %21.2f', results(k).(name{1}).seconds);
    end
    printf('\n');
  end
end
