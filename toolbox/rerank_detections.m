function [reranked, order] = rerank_detections(image, detections, model, filters, varargin)
% RERANK_DETECTIONS  Rescore detections with the re-ranking model and sort them by the new score.
%
%   reranked = rerank_detections(image, detections, model, filters)
%   reranked = rerank_detections(image, detections, model, filters, settings)
%   reranked = rerank_detections(image, detections, model, filters, 'name', value, ...)
%   [reranked, order] = rerank_detections(...)
%
%   Each detection's box, and the same box shifted by refineShift of its size up, down,
%   left and right (and diagonally) and scaled by refineScales (detector_settings), is cut
%   out of the image, resampled and described as the model's training windows were
%   (learn_reranker): a template's box often lies a little off the face. The box with the
%   highest log odds that it is a face is taken, and the search is repeated from it
%   refineSteps times, so that a box can move up to refineSteps * refineShift of its size;
%   the last highest log odds becomes the detection's field modelScore, and the detection
%   takes that box (row, col, height and width); its field finalScore is
%   modelScore plus scoreWeight times the template's score. The detections are returned
%   sorted by finalScore, highest first (equal scores keep their order): none is added or
%   dropped. A window is described once: a box that covers the same pixels as one described
%   in an earlier step reuses its log odds.
%
%   Arguments:
%     image       the image searched, grey or colour (as detect_faces takes it).
%     detections  struct array with fields row, col, height, width and score, as
%                 detect_faces returns it.
%     model       the model (learn_reranker).
%     filters     the filter bank it was learned with (filter_bank); another is refused
%                 with rerank_detections:filterMismatch.
%     settings    optional struct or name/value pairs of detector_settings (scoreWeight,
%                 refineShift, refineScales, refineSteps).
%   Returns:
%     reranked    the detections, sorted, with the boxes chosen and fields modelScore and
%                 finalScore added.
%     order       their indices in the list given: reranked(k) is detections(order(k)).
%
%   Example:
%     [x, y] = meshgrid(1:24);
%     blobs = repmat(exp(-((x - 12) .^ 2 + (y - 12) .^ 2) / 40), [1 1 20]);
%     stripes = repmat(sin(x / 2), [1 1 20]) + 0.1 * rand(24, 24, 20);
%     filters = filter_bank();
%     model = learn_reranker(blobs + 0.1 * rand(24, 24, 20), stripes, filters);
%     scene = [blobs(:, :, 1), stripes(:, :, 1)];
%     found = struct('row', {12.5, 12.5}, 'col', {36.5, 12.5}, 'height', 24, 'width', 24, ...
%                    'score', {2, 1});
%     reranked = rerank_detections(scene, found, model, filters);
%     printf('first after re-ranking: the box at column %.1f\n', reranked(1).col);   % 12.5

  settings = resolve_settings('rerank_detections', varargin);
  check_model(model, filters);
  image = grey_image(image, 'rerank_detections', 'the image');
  count = numel(detections);
  modelScores = zeros(count, 1);
  boxes = zeros(count, 4);
  if count > 0
    boxes = [[detections.row]', [detections.col]', [detections.height]', [detections.width]'];
    % A box that stayed where it was would stay there again: only moved boxes are searched on.
    moving = true(count, 1);
    % The log odds of every window described so far, by the pixels its box covers: a box
    % moved by one step meets several of the boxes searched around it before.
    known = struct('pixels', zeros(0, 4), 'scores', zeros(0, 1));
    for step = 1:settings.refineSteps
      previous = boxes(moving, :);
      [modelScores(moving), boxes(moving, :), known] = best_nearby(image, previous, model, ...
                                                                   filters, settings, known);
      moving(moving) = any(boxes(moving, :) ~= previous, 2);
      if ~any(moving)
        break;
      end
    end
  end
  finalScores = modelScores + settings.scoreWeight * reshape([detections.score], [], 1);
  [~, order] = sort(-finalScores);
  reranked = detections;
  if count == 0
    reranked = struct_with_scores(detections);
  end
  for k = 1:count
    reranked(k).row = boxes(k, 1);
    reranked(k).col = boxes(k, 2);
    reranked(k).height = boxes(k, 3);
    reranked(k).width = boxes(k, 4);
    reranked(k).modelScore = modelScores(k);
    reranked(k).finalScore = finalScores(k);
  end
  reranked = reranked(order);
  order = order';
end

function [scores, boxes, known] = best_nearby(image, boxes, model, filters, settings, known)
% The model's log odds of each box and of the boxes around it (shifted by refineShift of its
% size across and along, scaled by refineScales): the highest of each, and its box. Windows
% of the pixels of a box in known are not described again; known gains the new ones.
  [shiftRows, shiftCols, scales] = ndgrid(unique([-1 0 1] * settings.refineShift), ...
                                          unique([-1 0 1] * settings.refineShift), ...
                                          unique([1, settings.refineScales]));
  count = size(boxes, 1);
  variantCount = numel(scales);
  candidates = zeros(count * variantCount, 4);
  for v = 1:variantCount
    candidates((v - 1) * count + (1:count), :) = ...
        [boxes(:, 1) + shiftRows(v) * boxes(:, 3), boxes(:, 2) + shiftCols(v) * boxes(:, 4), ...
         boxes(:, 3) * scales(v), boxes(:, 4) * scales(v)];
  end
  pixels = box_pixels(candidates);
  [seen, where] = ismember(pixels, known.pixels, 'rows');
  allScores = zeros(size(candidates, 1), 1);
  allScores(seen) = known.scores(where(seen));
  unseen = find(~seen);
  if ~isempty(unseen)
    [newPixels, first, copies] = unique(pixels(unseen, :), 'rows');
    descriptors = window_descriptors(crop_windows(image, candidates(unseen(first), :), ...
                                                  model.windowSize), filters, model.cellSize);
    newScores = ((descriptors - model.featureMean) ./ model.featureScale) * model.weights + ...
                model.bias;
    allScores(unseen) = newScores(copies);
    known.pixels = [known.pixels; newPixels];
    known.scores = [known.scores; newScores];
  end
  [scores, best] = max(reshape(allScores, count, variantCount), [], 2);
  boxes = candidates((best - 1) * count + (1:count)', :);
end

function check_model(model, filters)
% Refuses a model that is not learn_reranker's or was learned with another filter bank.
  fields = {'weights', 'bias', 'featureMean', 'featureScale', 'windowSize', 'cellSize', ...
            'orientCount', 'filterSide'};
  if ~isstruct(model) || ~all(isfield(model, fields))
    error('rerank_detections:badModel', ['rerank_detections: argument 3 (model) must be the ' ...
          'struct learn_reranker makes, with fields %s'], strjoin(fields, ', '));
  end
  if ~iscell(filters) || numel(filters) ~= model.orientCount || size(filters{1}, 1) ~= model.filterSide
    error('rerank_detections:filterMismatch', ['rerank_detections: the model was learned with ' ...
          '%d filters of %d pixels; got another bank'], model.orientCount, model.filterSide);
  end
end

function empty = struct_with_scores(detections)
% An empty detection list with the fields the re-ranking adds.
  names = fieldnames(detections)';
  names = [names, setdiff({'modelScore', 'finalScore'}, names)];
  empty = cell2struct(cell(numel(names), 0), names, 1);
end
