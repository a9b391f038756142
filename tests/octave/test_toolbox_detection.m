% detect_faces scores again only the placements an inhibition can reach; its detections must
% equal those of a naive search that scores every placement again after every inhibition.

%!function scores = naive_scores(pooled, normalizer, rows, cols, t)
%!  p = t.params;
%!  scores = {zeros(floor((t.templateRows + rows) / p.poolStep), floor((t.templateCols + cols) / p.poolStep), 'single')};
%!  gastrel(1, rows, cols, numel(pooled), p.poolStep, t.templateRows, t.templateCols, t.elementCount, ...
%!          t.orients, t.rowOffsets, t.colOffsets, t.weights, t.biases, pooled, scores, normalizer, ...
%!          p.saturationLevel);
%!  % Only placements whose box lies inside the image count.
%!  scores = scores{1};
%!  anchorRows = (1:size(scores, 1)) - floor(t.templateRows / p.poolStep);
%!  anchorCols = (1:size(scores, 2)) - floor(t.templateCols / p.poolStep);
%!  scores(anchorRows < 0 | anchorRows * p.poolStep + t.templateRows > rows, :) = -1e10;
%!  scores(:, anchorCols < 0 | anchorCols * p.poolStep + t.templateCols > cols) = -1e10;
%!endfunction

%!function p = small_params(varargin)
%!  % The learning settings of these tests' small templates, with the given ones changed.
%!  p = struct('orientCount', 4, 'filterHalf', 3, 'wavelength', 4, 'poolStep', 2, 'posShiftMax', 1, ...
%!             'orientShiftMax', 1, 'saturationLevel', 3, 'overlapThreshold', 0.1, ...
%!             'normalizerHalf', 6, 'relativeFloor', 0.1);
%!  for k = 1:2:numel(varargin)
%!    p.(varargin{k}) = varargin{k + 1};
%!  end
%!endfunction

%!function t = four_elements(p, side)
%!  % A side x side template of four elements, one per orientation.
%!  t = struct('elementCount', 4, 'orients', [0 1 2 3], 'rowOffsets', [2 4 6 8], 'colOffsets', [3 7 2 8], ...
%!             'weights', ones(1, 4), 'biases', 0.2 * ones(1, 4), 'templateRows', side, ...
%!             'templateCols', side, 'params', p);
%!endfunction

%!test
%! rand('seed', 3); randn('seed', 3);
%! p = small_params();
%! side = 20;
%! count = 10;
%! t = struct('elementCount', count, 'orients', mod(0:count - 1, 4), ...
%!            'rowOffsets', 2 + mod(3 * (0:count - 1), 8), 'colOffsets', 2 + mod(5 * (0:count - 1), 8), ...
%!            'weights', 1 + rand(1, count), 'biases', 0.3 * ones(1, count), ...
%!            'templateRows', side, 'templateCols', side, 'params', p);
%! [filters, stamps] = filter_bank(p.orientCount, p.filterHalf, p.wavelength);
%! rows = 90; cols = 80;
%! image = conv2(randn(rows + 2, cols + 2), ones(3) / 9, 'valid');
%! detections = detect_faces(image, t, filters, stamps, ...
%!                           struct('faceSizes', side, 'detectionCount', 8, 'scoreThreshold', -Inf, ...
%!                                  'exclusionRadius', 0, 'verbose', 0));
%! assert(numel(detections), 8);
%!
%! % The naive search at the same (identity) scale.
%! responses = filter_responses(image, filters);
%! normalizer = call_private('normalizer_maps', responses, p);
%! pooled = fresh_maps(floor([rows cols] / p.poolStep), p.orientCount);
%! traces = fresh_maps(floor([rows cols] / p.poolStep), p.orientCount);
%! vindral(1, rows, cols, p.orientCount, p.posShiftMax, p.orientShiftMax, p.poolStep, responses, pooled, traces);
%! overlap = call_private('overlap_table', filters, p.overlapThreshold);
%! for n = 1:8
%!   scores = naive_scores(pooled, normalizer, rows, cols, t);
%!   best = zeros(1, 1, 'single'); anchorRow = zeros(1, 1); anchorCol = zeros(1, 1);
%!   lurvane(1, rows, cols, p.poolStep, side, side, {scores}, best, anchorRow, anchorCol);
%!   assert(detections(n).score, double(best));
%!   assert(detections(n).row, anchorRow * p.poolStep + (side + 1) / 2);
%!   assert(detections(n).col, anchorCol * p.poolStep + (side + 1) / 2);
%!   tarrowveto(1, rows, cols, p.orientCount, p.posShiftMax, p.orientShiftMax, p.poolStep, p.filterHalf, ...
%!              stamps, count, t.orients, t.rowOffsets, t.colOffsets, t.weights, t.biases, responses, ...
%!              pooled, traces, {zeros(rows, cols, 'single')}, anchorRow, anchorCol, p.saturationLevel, ...
%!              side, side, overlap, zeros(1, 1, 'single'), normalizer);
%! end
%! % Every detection is a different place, each box inside the image, scores falling.
%! assert(all(diff([detections.score]) <= 0));
%! assert(all([detections.row] - side / 2 >= 0 & [detections.row] + side / 2 <= rows + 1));

%!test
%! % With an exclusion radius, no detection is centred within radius x height of an earlier one.
%! rand('seed', 5); randn('seed', 5);
%! p = small_params();
%! side = 20;
%! t = struct('elementCount', 6, 'orients', [0 1 2 3 0 2], 'rowOffsets', [2 4 6 8 3 7], ...
%!            'colOffsets', [3 7 2 8 5 5], 'weights', ones(1, 6), 'biases', 0.2 * ones(1, 6), ...
%!            'templateRows', side, 'templateCols', side, 'params', p);
%! [filters, stamps] = filter_bank(p.orientCount, p.filterHalf, p.wavelength);
%! image = conv2(randn(82, 82), ones(3) / 9, 'valid');
%! search = struct('faceSizes', [side 24], 'detectionCount', 6, 'scoreThreshold', -Inf, ...
%!                 'exclusionRadius', 0, 'verbose', 0);
%! plain = detect_faces(image, t, filters, stamps, search);
%! search.exclusionRadius = 1.5;
%! apart = detect_faces(image, t, filters, stamps, search);
%! assert([apart(1).row, apart(1).col, apart(1).score], [plain(1).row, plain(1).col, plain(1).score]);
%! for i = 2:numel(apart)
%!   for j = 1:i - 1
%!     assert(hypot(apart(i).row - apart(j).row, apart(i).col - apart(j).col) >= 1.5 * apart(j).height);
%!   end
%! end
%! % Without it, the same random texture yields detections closer than that.
%! close = false;
%! for i = 2:numel(plain)
%!   for j = 1:i - 1
%!     close = close || hypot(plain(i).row - plain(j).row, plain(i).col - plain(j).col) < 1.5 * plain(j).height;
%!   end
%! end
%! assert(close);

%!test
%! % Inhibition changes pooled maxima up to (2h + posShiftMax * poolStep) / poolStep + posShiftMax
%! % pooled positions beyond an element's own, here 7 (h 3, poolStep 2, posShiftMax 2): no
%! % rounding leaves room to spare. Two short horizontal lines 2h = 6 pixel rows apart, the
%! % brighter above: the first detection's element, at pooled row q = 10, finds the upper line
%! % at its largest shift (pixel 2q + 4 = 24), so its inhibition wipes out the lower line (pixel
%! % 30), which pooled row q + 7 had found at its smallest shift (2(q + 7) - 4 = 30). Scoring
%! % again must reach that row.
%! p = small_params('posShiftMax', 2, 'overlapThreshold', 0.02);
%! side = 20;
%! t = struct('elementCount', 1, 'orients', 0, 'rowOffsets', 5, 'colOffsets', 5, 'weights', 1, ...
%!            'biases', 0, 'templateRows', side, 'templateCols', side, 'params', p);
%! [filters, stamps] = filter_bank(p.orientCount, p.filterHalf, p.wavelength);
%! rows = 60; cols = 60; found = 3;
%! image = zeros(rows, cols);
%! image(24, 29:31) = 1;
%! image(30, 29:31) = 0.8;
%! detections = detect_faces(image, t, filters, stamps, 'faceSizes', side, 'detectionCount', found, ...
%!                           'scoreThreshold', -Inf, 'exclusionRadius', 0, 'verbose', 0);
%! assert(numel(detections), found);
%! assert([detections(1).row, detections(1).col], [20.5, 30.5]);  % anchor (5, 10): q = 10
%! responses = filter_responses(image, filters);
%! normalizer = call_private('normalizer_maps', responses, p);
%! pooled = fresh_maps(floor([rows cols] / p.poolStep), p.orientCount);
%! traces = fresh_maps(floor([rows cols] / p.poolStep), p.orientCount);
%! vindral(1, rows, cols, p.orientCount, p.posShiftMax, p.orientShiftMax, p.poolStep, responses, pooled, traces);
%! overlap = call_private('overlap_table', filters, p.overlapThreshold);
%! for n = 1:found
%!   scores = naive_scores(pooled, normalizer, rows, cols, t);
%!   best = zeros(1, 1, 'single'); anchorRow = zeros(1, 1); anchorCol = zeros(1, 1);
%!   lurvane(1, rows, cols, p.poolStep, side, side, {scores}, best, anchorRow, anchorCol);
%!   assert([detections(n).score, detections(n).row, detections(n).col], ...
%!          [double(best), anchorRow * p.poolStep + (side + 1) / 2, anchorCol * p.poolStep + (side + 1) / 2]);
%!   tarrowveto(1, rows, cols, p.orientCount, p.posShiftMax, p.orientShiftMax, p.poolStep, p.filterHalf, ...
%!              stamps, 1, t.orients, t.rowOffsets, t.colOffsets, t.weights, t.biases, responses, ...
%!              pooled, traces, {zeros(rows, cols, 'single')}, anchorRow, anchorCol, p.saturationLevel, ...
%!              side, side, overlap, zeros(1, 1, 'single'), normalizer);
%! end

%!test
%! % Two scales whose best scores are equal (the same face size twice): the detection is
%! % reported at the earlier one, and so is every later detection, which ties again.
%! rand('seed', 11); randn('seed', 11);
%! p = small_params();
%! side = 20;
%! t = four_elements(p, side);
%! [filters, stamps] = filter_bank(p.orientCount, p.filterHalf, p.wavelength);
%! image = conv2(randn(62, 72), ones(3) / 9, 'valid');
%! search = {'detectionCount', 3, 'scoreThreshold', -Inf, 'exclusionRadius', 0, 'verbose', 0};
%! once = detect_faces(image, t, filters, stamps, 'faceSizes', side, search{:});
%! twice = detect_faces(image, t, filters, stamps, 'faceSizes', [side side], search{:});
%! assert([twice.scale], [1 1 1]);
%! assert([[twice.row]; [twice.col]; [twice.score]], [[once.row]; [once.col]; [once.score]]);

%!test
%! % A search on a photo of the previous one's size reuses that search's maps: it finds what a
%! % search with fresh maps finds, leaves what the previous search returned as it was, and
%! % keptMapsLimit 0 (nothing kept) changes nothing either.
%! rand('seed', 13); randn('seed', 13);
%! p = small_params();
%! side = 20;
%! t = four_elements(p, side);
%! [filters, stamps] = filter_bank(p.orientCount, p.filterHalf, p.wavelength);
%! first = conv2(randn(73, 67), ones(3) / 9, 'valid');
%! second = conv2(randn(73, 67), ones(3) / 9, 'valid');
%! search = {'faceSizes', [side 26], 'detectionCount', 5, 'exclusionRadius', 0.5, 'verbose', 0};
%! clear detect_faces
%! [fresh, freshSketch] = detect_faces(second, t, filters, stamps, search{:});
%! clear detect_faces
%! [before, beforeSketch] = detect_faces(first, t, filters, stamps, search{:});
%! kept = {double(beforeSketch), arrayfun(@(d) double(d.sketch), before, 'UniformOutput', false)};
%! [reused, reusedSketch] = detect_faces(second, t, filters, stamps, search{:});
%! assert(isequaln(reused, fresh) && isequaln(reusedSketch, freshSketch));
%! assert(isequal(double(beforeSketch), kept{1}));
%! assert(isequal(arrayfun(@(d) double(d.sketch), before, 'UniformOutput', false), kept{2}));
%! unkept = detect_faces(second, t, filters, stamps, search{:}, 'keptMapsLimit', 0);
%! assert(isequaln(unkept, fresh));

%!test
%! % A detection's sketch is drawn from the maps as they were when it was found, also when its
%! % crop spans the whole pooled map (an image hardly larger than the face), which the
%! % detection's inhibition then changes in place.
%! rand('seed', 3); randn('seed', 3);
%! p = small_params();
%! side = 20; count = 6;
%! t = struct('elementCount', count, 'orients', mod(0:count - 1, 4), ...
%!            'rowOffsets', 2 + mod(3 * (0:count - 1), 8), 'colOffsets', 2 + mod(5 * (0:count - 1), 8), ...
%!            'weights', ones(1, count), 'biases', zeros(1, count), ...
%!            'templateRows', side, 'templateCols', side, 'params', p);
%! [filters, stamps] = filter_bank(p.orientCount, p.filterHalf, p.wavelength);
%! rows = 24; cols = 24;
%! image = conv2(randn(rows + 2, cols + 2), ones(3) / 9, 'valid');
%! found = detect_faces(image, t, filters, stamps, 'faceSizes', side, 'detectionCount', 1, 'verbose', 0);
%! pooled = fresh_maps(floor([rows cols] / p.poolStep), p.orientCount);
%! traces = fresh_maps(floor([rows cols] / p.poolStep), p.orientCount);
%! vindral(1, rows, cols, p.orientCount, p.posShiftMax, p.orientShiftMax, p.poolStep, ...
%!         filter_responses(image, filters), pooled, traces);
%! canvas = {zeros(rows, cols, 'single')};
%! tarrow(1, rows, cols, p.orientCount, p.posShiftMax, p.orientShiftMax, p.poolStep, p.filterHalf, ...
%!        stamps, count, t.orients, t.rowOffsets, t.colOffsets, pooled, traces, canvas, ...
%!        (found.row - (side + 1) / 2) / p.poolStep, (found.col - (side + 1) / 2) / p.poolStep, ...
%!        p.saturationLevel);
%! assert(found.sketch, canvas{1}(found.boxTop + (0:side - 1), found.boxLeft + (0:side - 1)));
