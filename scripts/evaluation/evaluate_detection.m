function results = evaluate_detection(varargin)
% EVALUATE_DETECTION  Score detect_faces, and the Haar cascade when it runs, on labelled photos.
%
%   results = evaluate_detection()
%   results = evaluate_detection('name', value, ...)
%
%   Learns face_demo's template once (learn_demo_template), then on every photo of
%   evaluation_photos (the development set and both Solvay scans) makes N detections, N
%   the number of the photo's faces, in two runs: given the photo's face sizes (five sizes
%   from its smallest to its largest labelled face height, evenly spaced in log scale, as
%   face_demo's faceRange; one size when they are equal), and at detector_settings' default
%   sizes. Each run, and the Haar cascade's ranked detections when a peer script is given,
%   is scored by score_detections: faces found among the first N detections, precision
%   and recall at N. Prints a line per photo as it is scored, then the totals.
%
%   The re-ranked runs: the re-ranking model is learned once too (learn_demo_reranker, from
%   the face-free photos of fetch-data.sh --face-free, fetched into dataDir when missing);
%   each search then asks detect_faces for max(candidateFactor * N, candidateMinimum)
%   detections (reranker_settings), rerank_detections reorders them and the first N are
%   scored, given the photo's face sizes, at the default sizes, and at wide sizes (wideCount
%   sizes from wideSmallest pixels to the photo's shorter side; the plain wide run is shown
%   too). The plain runs are the first N of the same searches. When the face-free photos
%   cannot be had, the re-ranked runs are left out and the run says why. The search and
%   re-ranking times of each photo follow the table.
%
%   Options (name/value pairs):
%     dataDir     the data cache, filled by fetch-data.sh --development (default 'data').
%     labelsFile  the hand labels of the development photos that have no boxes of their
%                 own (default 'scripts/development-faces.txt').
%     peerScript  scripts/peers/haar_faces.py to score the Haar cascade too; '' (the
%                 default) leaves it out.
%   Returns a struct array, one per photo: name, group, source, faceCount, and
%   givenSizes, defaultSizes, wideSizes, givenReranked, defaultReranked, wideReranked
%   (empty without the re-ranking model) and haar (empty without a peer script), each a
%   struct of found, scoredCount (the detections scored), precision, recall, note (why the
%   run made no detections, or ''), searchTime and rerankTime (seconds; 0 when not run).
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh --development data) and the plug-ins
%     % built (make evaluate runs this, with the Haar cascade):
%     results = evaluate_detection('dataDir', 'data');
%     printf('%d photos scored\n', numel(results));

  options = evaluation_options(varargin);
  started = tic;
  [template, filters, stamps] = learn_demo_template(options.dataDir);
  printf('Template learned as face_demo learns it: %d elements (%.1f s)\n', ...
         template.elementCount, toc(started));
  photos = evaluation_photos(options.dataDir, options.labelsFile);
  reranking = reranking_model(options.dataDir, template, filters, stamps);
  runNames = {'givenSizes', 'defaultSizes'};
  if ~isempty(reranking.model)
    runNames = [runNames, {'givenReranked', 'defaultReranked', 'wideSizes', 'wideReranked'}];
  end
  if ~isempty(options.peerScript)
    runNames{end + 1} = 'haar';
  end
  print_header(runNames);
  results = struct('name', {}, 'group', {}, 'source', {}, 'faceCount', {}, 'givenSizes', {}, ...
                   'defaultSizes', {}, 'wideSizes', {}, 'givenReranked', {}, ...
                   'defaultReranked', {}, 'wideReranked', {}, 'haar', {});
  for k = 1:numel(photos)
    results(k) = evaluate_photo(photos(k), template, filters, stamps, reranking, ...
                                options.peerScript);
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

function reranking = reranking_model(dataDir, template, filters, stamps)
% The re-ranking model and its settings, learned on the face-free photos (fetched first when
% missing); an empty model, with a line saying why, when they cannot be had.
  reranking = struct('model', [], 'settings', reranker_settings());
  try
    face_free_photos(dataDir);
  catch
    fetcher = fullfile(fileparts(fileparts(mfilename('fullpath'))), 'fetch-data.sh');
    [status, output] = system(sprintf('"%s" --face-free "%s" 2>&1', fetcher, dataDir));
    if status ~= 0
      printf('The re-ranked runs are left out: the face-free photos could not be fetched:\n%s', output);
      return;
    end
  end
  started = tic;
  [reranking.model, negativeCount] = learn_demo_reranker(dataDir, template, filters, stamps, ...
                                                         reranking.settings);
  printf(['Re-ranking model learned from %d face windows (jittered) and %d non-face ' ...
          'windows (%.1f s)\n'], reranking.model.faceCount, negativeCount, toc(started));
end

function result = evaluate_photo(photo, template, filters, stamps, reranking, peerScript)
% The runs on one photo, scored.
  scaleCount = 5;               % sizes searched from the smallest to the largest labelled
  image = read_image(photo.file);
  faceCount = rows(photo.centres);
  givenSizes = unique(exp(linspace(log(photo.faceRange(1)), log(photo.faceRange(2)), scaleCount)));
  rules = reranking.settings;
  candidateCount = faceCount;
  if ~isempty(reranking.model)
    candidateCount = max(rules.candidateFactor * faceCount, rules.candidateMinimum);
  end
  quiet = detector_settings('verbose', 0, 'detectionCount', candidateCount);
  result = struct('name', photo.name, 'group', photo.group, 'source', photo.source, ...
                  'faceCount', faceCount);
  [result.givenSizes, result.givenReranked] = ...
      our_runs(image, photo, template, filters, stamps, ...
               detector_settings(quiet, 'faceSizes', givenSizes), reranking);
  [result.defaultSizes, result.defaultReranked] = ...
      our_runs(image, photo, template, filters, stamps, quiet, reranking);
  result.wideSizes = [];
  result.wideReranked = [];
  if ~isempty(reranking.model)
    [result.wideSizes, result.wideReranked] = ...
        our_runs(image, photo, template, filters, stamps, ...
                 detector_settings(quiet, 'faceSizes', wide_sizes(size(image))), reranking);
  end
  result.haar = [];
  if ~isempty(peerScript)
    [centres, failure] = haar_detections(peerScript, photo.file);
    result.haar = scored(centres, photo, failure);
  end
end

function sizes = wide_sizes(imageSize)
% The wide run's face sizes: from the smallest searched to the photo's shorter side.
  wideCount = 12;               % sizes, evenly spaced in log scale,
  wideSmallest = 24;            % from this many pixels
  sizes = exp(linspace(log(wideSmallest), log(min(imageSize(1:2))), wideCount));
end

function [plain, reranked] = our_runs(image, photo, template, filters, stamps, settings, reranking)
% One search of detect_faces on the photo, scored as found and, when there is a re-ranking
% model, after rerank_detections ([] otherwise); a refused search scores nothing and says why.
  reranked = [];
  try
    started = tic;
    detections = detect_faces(image, template, filters, stamps, settings);
    searchTime = toc(started);
    plain = scored(centres_of(detections), photo, '', searchTime, 0);
    if ~isempty(reranking.model)
      started = tic;
      detections = rerank_detections(image, detections, reranking.model, filters, ...
                                     reranking.settings);
      reranked = scored(centres_of(detections), photo, '', searchTime, toc(started));
    end
  catch failure
    plain = scored(zeros(0, 2), photo, failure.message, 0, 0);
    if ~isempty(reranking.model)
      reranked = plain;
    end
  end
end

function centres = centres_of(detections)
% The detections' centres, n x 2 [row, col].
  centres = reshape([[detections.row]', [detections.col]'], [], 2);
end

function score = scored(centres, photo, note, searchTime, rerankTime)
% The figures of one run.
  if nargin < 4
    searchTime = 0;
    rerankTime = 0;
  end
  [found, precision, recall, matched] = score_detections(reshape(centres, [], 2), ...
                                                         photo.centres, photo.radius);
  score = struct('found', found, 'scoredCount', numel(matched), 'precision', precision, ...
                 'recall', recall, 'note', note, 'searchTime', searchTime, ...
                 'rerankTime', rerankTime);
end

function print_header(runNames)
% The table's header lines.
  titles = struct('givenSizes', 'ours, given sizes', 'defaultSizes', 'ours, default sizes', ...
                  'givenReranked', 're-ranked, given', 'defaultReranked', 're-ranked, default', ...
                  'wideSizes', 'ours, wide sizes', 'wideReranked', 're-ranked, wide', ...
                  'haar', 'Haar cascade');
  defaults = detector_settings();
  printf(['\nFaces found among the first N detections (N = the faces in the photo), ' ...
          'precision and recall at N.\n']);
  printf(['ours: face_demo''s template, given the sizes of the photo''s labelled faces ' ...
          '(smallest to largest),\nor at the default sizes (%.0f to %.0f pixels).\n'], ...
         min(defaults.faceSizes), max(defaults.faceSizes));
  if any(strcmp(runNames, 'wideReranked'))
    rules = reranker_settings();
    printf(['re-ranked: the same searches asked for max(%dN, %d) detections, reordered by ' ...
            'rerank_detections;\nwide: 12 sizes from 24 pixels to the photo''s shorter side.\n'], ...
           rules.candidateFactor, rules.candidateMinimum);
  end
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
% Each photo's search times (detect_faces, as many detections as the re-ranking asks for)
% and the time re-ranking added, seconds.
  if ~any(strcmp(runNames, 'wideReranked'))
    return;
  end
  printf(['\nSeconds per photo: detect_faces at the given, default and wide sizes; the time ' ...
          'rerank_detections adds to each.\n']);
  printf('%-44s %8s %8s %8s   %8s %8s %8s\n', 'photo', 'given', 'default', 'wide', '+given', ...
         '+default', '+wide');
  for k = 1:numel(results)
    runs = [results(k).givenReranked, results(k).defaultReranked, results(k).wideReranked];
    printf('%-44s %8.2f %8.2f %8.2f   %8.2f %8.2f %8.2f\n', results(k).name, ...
           [runs.searchTime], [runs.rerankTime]);
  end
end
