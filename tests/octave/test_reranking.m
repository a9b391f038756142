% The second stage that re-ranks detections: a model learned on synthetic faces (dark eyes and
% mouth on a lighter oval) against brick-like texture must put a face window above a brick
% window that the template scored higher; the reorder must keep every detection and sort
% them by the new score; a box off the face must be moved onto it; the logistic fit must
% weigh both classes equally.

%!shared faces, bricks, filters, model
%! side = 24; count = 12;
%! [c, r] = meshgrid(1:side);
%! rand('state', 3); randn('state', 3);
%! face = 0.3 + 0.4 * (((r - 12.5) / 11) .^ 2 + ((c - 12.5) / 9) .^ 2 < 1);
%! face(abs(r - 9) <= 1.5 & (abs(c - 8) <= 2 | abs(c - 17) <= 2)) = 0.15;    % eyes
%! face(abs(r - 17) <= 1 & abs(c - 12.5) <= 4) = 0.2;                          % mouth
%! faces = repmat(face, [1 1 count]) + 0.03 * randn(side, side, count);
%! bricks = zeros(side, side, count);
%! for k = 1:count
%!   courses = mod(floor((r + k) / 6), 2) * 0.4 + 0.3;                          % courses
%!   joints = mod(c + 3 * k + 6 * mod(floor((r + k) / 6), 2), 12) < 2;          % joints
%!   bricks(:, :, k) = courses .* ~joints + 0.8 * joints + 0.03 * randn(side);
%! end
%! filters = filter_bank();
%! model = learn_reranker(faces, bricks, filters, 'jitterScales', 1);

%!test
%! % The face window outranks the brick window although the template put the bricks first.
%! scene = [faces(:, :, 1), bricks(:, :, 1)];
%! found = struct('row', {12.5, 12.5}, 'col', {36.5, 12.5}, 'height', 24, 'width', 24, ...
%!                'score', {5, 1});
%! [reranked, order] = rerank_detections(scene, found, model, filters, 'scoreWeight', 0);
%! assert(order, [2 1]);
%! assert(reranked(1).col, 12.5);
%! assert(reranked(1).modelScore > 0 && reranked(2).modelScore < 0);
%! assert(model.trainingAccuracy, 1);

%!test
%! % Every detection is kept, sorted by finalScore = modelScore + scoreWeight * score.
%! scene = [faces(:, :, 2), bricks(:, :, 2), faces(:, :, 3), bricks(:, :, 3)];
%! cols = 12.5 + 24 * (0:3);
%! found = struct('row', 12.5, 'col', num2cell(cols), 'height', 24, 'width', 24, ...
%!                'score', {1, 2, 3, 4});
%! weight = 0.5;
%! [reranked, order] = rerank_detections(scene, found, model, filters, 'scoreWeight', weight, ...
%!                                      'refineShift', 0);
%! assert(sort(order), 1:4);
%! assert([reranked.col], cols(order));
%! assert([reranked.score], [found(order).score]);
%! assert([reranked.finalScore], [reranked.modelScore] + weight * [reranked.score], 1e-12);
%! assert(all(diff([reranked.finalScore]) <= 0));

%!test
%! % A box a sixth of its size off the face is moved onto it by the refinement, and scores
%! % higher than where it was found.
%! scene = 0.5 * ones(60, 60);
%! scene(19:42, 19:42) = faces(:, :, 4);
%! found = struct('row', 30.5, 'col', 30.5 + 4, 'height', 24, 'width', 24, 'score', 1);
%! kept = rerank_detections(scene, found, model, filters, 'refineShift', 0);
%! moved = rerank_detections(scene, found, model, filters, 'refineShift', 1 / 6);
%! assert([moved.row, moved.col, moved.height], [30.5, 30.5, 24]);
%! assert(moved.modelScore > kept.modelScore);

%!test
%! % After several refinement steps (windows met before are not described again), each
%! % detection's modelScore is its final box's log odds as the model gives them for that
%! % window alone, and its finalScore adds scoreWeight times its score.
%! scene = 0.5 * ones(70, 90);
%! scene(9:32, 11:34) = faces(:, :, 5); scene(40:63, 50:73) = faces(:, :, 6);
%! scene(5:28, 60:83) = bricks(:, :, 5);
%! found = struct('row', {22, 50.5, 16.5, 23}, 'col', {25, 60, 71.5, 21}, 'height', ...
%!                {24, 26, 24, 22}, 'width', {24, 26, 24, 22}, 'score', {1, 2, 3, 4});
%! [reranked, order] = rerank_detections(scene, found, model, filters, 'refineShift', 1 / 8, ...
%!                                       'refineSteps', 4, 'scoreWeight', 0.5);
%! boxes = [[reranked.row]', [reranked.col]', [reranked.height]', [reranked.width]'];
%! alone = arrayfun(@(k) (call_private('window_descriptors', crop_windows(scene, boxes(k, :), ...
%!                        model.windowSize), filters, model.cellSize) - model.featureMean) ./ ...
%!                       model.featureScale * model.weights + model.bias, 1:4);
%! assert([reranked.modelScore], alone, 1e-12);
%! assert([reranked.finalScore], alone + 0.5 * [reranked.score], 1e-12);
%! assert(sum(any(boxes ~= [[found(order).row]', [found(order).col]', [found(order).height]', ...
%!                        [found(order).width]'], 2)) >= 2);

%!test
%! % No detections give no detections; another filter bank is refused.
%! none = struct('row', {}, 'col', {}, 'height', {}, 'width', {}, 'score', {});
%! assert(numel(rerank_detections(faces(:, :, 1), none, model, filters)), 0);
%! assert(isfield(rerank_detections(faces(:, :, 1), none, model, filters), 'finalScore'));
%! fail('rerank_detections(faces(:, :, 1), none, model, filter_bank(''orientCount'', 4))', ...
%!      'learned with 8 filters');

%!test
%! % The fit weighs the classes equally: with 5 positives and 200 negatives of equal spread
%! % around +1 and -1, the log odds cross 0 near the middle (0.3 with these draws); weighing
%! % each example equally would push the crossing past the positives' mean (1.45).
%! randn('state', 5);
%! x = [1 + randn(5, 1); -1 + randn(200, 1)];
%! [w, b] = call_private('fit_logistic', x, [true(5, 1); false(200, 1)], 1e-3);
%! assert(w > 0);
%! assert(abs(-b / w) < 0.6);

%!test
%! % A window is the box's pixels resized (resize_image), the image's edge pixels repeated
%! % where the box leaves the image; boxes of different sizes each get their own resampling.
%! rand('state', 9);
%! image = rand(30, 40);
%! boxes = [10.5 12.5 8 12; 3.5 38.5 10 10];
%! windows = crop_windows(image, boxes, 6);
%! assert(windows(:, :, 1), call_private('resize_image', image(7:14, 7:18), 6, 6), 1e-12);
%! outside = image(min(max(-1:8, 1), 30), min(max(34:43, 1), 40));
%! assert(windows(:, :, 2), call_private('resize_image', outside, 6, 6), 1e-12);

%!test
%! % A search that finds nothing (every score below the threshold) returns no detection with
%! % the detections' fields, whether or not it would re-rank its candidates.
%! [bank, stamps] = filter_bank();
%! t = struct('elementCount', 1, 'orients', 0, 'rowOffsets', 5, 'colOffsets', 5, 'weights', 1, ...
%!            'biases', 0, 'templateRows', 24, 'templateCols', 24, 'params', detector_settings(), ...
%!            'ranker', model);
%! scene = [faces(:, :, 1), bricks(:, :, 1)];
%! for rerank = [0 1]
%!   [found, ~, report] = detect_faces(scene, t, bank, stamps, 'faceSizes', 24, ...
%!                                     'scoreThreshold', Inf, 'rerank', rerank, 'verbose', 0);
%!   assert(isempty(found));
%!   assert(all(isfield(found, {'row', 'col', 'height', 'width', 'score', 'scale', 'sketch', ...
%!                              'boxTop', 'boxLeft', 'templateScore', 'modelScore'})));
%!   assert(! isempty(strfind(report.stopReason, 'is below scoreThreshold Inf')));
%! end
