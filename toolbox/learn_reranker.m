function model = learn_reranker(faces, nonFaces, filters, varargin)
% LEARN_RERANKER  Learn the linear model that re-ranks detections: faces against non-faces.
%
%   model = learn_reranker(faces, nonFaces, filters)
%   model = learn_reranker(faces, nonFaces, filters, settings)
%   model = learn_reranker(faces, nonFaces, filters, 'name', value, ...)
%
%   Every face is cut out again at small shifts and scales (jitterShifts, jitterStep and
%   jitterScales of detector_settings), since a detection's box lies only near a face's:
%   each copy, and each non-face window, is resampled to windowSize pixels square and
%   described by window_descriptors (orientation amplitudes and grey levels over cells of
%   cellSize pixels). The descriptors are standardized and a logistic model, the two
%   classes weighted equally and the weights penalized by regularization, is fitted.
%
%   Arguments:
%     faces     rows x cols x n grey stack of faces framed as the template's training
%               faces are (the detector's box is the whole patch).
%     nonFaces  rows x cols x m grey stack of non-face windows (the box is the whole
%               window), e.g. the template's highest-scoring detections on face-free photos.
%     filters   the filter bank (filter_bank) the detections will be described with.
%     settings  optional struct or name/value pairs of detector_settings (its re-ranking group).
%   Returns:
%     model     struct: weights (d x 1), bias, featureMean and featureScale (1 x d, the
%               standardization), windowSize, cellSize, orientCount, filterSide,
%               faceCount and nonFaceCount (the examples it was learned from, jittered
%               copies included), and trainingAccuracy (share of them on the right side).
%
%   Example:
%     [x, y] = meshgrid(1:24);
%     blobs = repmat(exp(-((x - 12) .^ 2 + (y - 12) .^ 2) / 40), [1 1 20]);
%     stripes = repmat(sin(x / 2), [1 1 20]) + 0.1 * rand(24, 24, 20);
%     model = learn_reranker(blobs + 0.1 * rand(24, 24, 20), stripes, filter_bank());
%     printf('%d weights, training accuracy %.2f\n', numel(model.weights), model.trainingAccuracy);

  settings = resolve_settings('learn_reranker', varargin);
  faces = grey_image(faces, 'learn_reranker', 'faces', true);
  nonFaces = grey_image(nonFaces, 'learn_reranker', 'nonFaces', true);
  side = settings.windowSize;
  positives = window_descriptors(jittered_windows(faces, settings), filters, settings.cellSize);
  negatives = window_descriptors(whole_windows(nonFaces, side), filters, settings.cellSize);
  features = [positives; negatives];
  labels = [true(size(positives, 1), 1); false(size(negatives, 1), 1)];
  featureMean = mean(features, 1);
  featureScale = std(features, 0, 1);
  featureScale(featureScale == 0) = 1;
  standardized = (features - featureMean) ./ featureScale;
  [weights, bias] = fit_logistic(standardized, labels, settings.regularization);
  correct = ((standardized * weights + bias) > 0) == labels;
  model = struct('weights', weights, 'bias', bias, 'featureMean', featureMean, ...
                 'featureScale', featureScale, 'windowSize', side, ...
                 'cellSize', settings.cellSize, 'orientCount', numel(filters), ...
                 'filterSide', size(filters{1}, 1), 'faceCount', size(positives, 1), ...
                 'nonFaceCount', size(negatives, 1), 'trainingAccuracy', mean(correct));
end

function windows = jittered_windows(faces, settings)
% Each face cut out at every combination of the jitter's shifts (across and along) and
% scales, the whole patch being the box.
  [faceRows, faceCols, count] = size(faces);
  [shiftRows, shiftCols, scales] = ndgrid(settings.jitterShifts, settings.jitterShifts, ...
                                          settings.jitterScales);
  centre = [(faceRows + 1) / 2, (faceCols + 1) / 2];
  boxes = [centre(1) + shiftRows(:) * settings.jitterStep * faceRows, ...
           centre(2) + shiftCols(:) * settings.jitterStep * faceCols, ...
           scales(:) * faceRows, scales(:) * faceCols];
  perFace = size(boxes, 1);
  windows = zeros(settings.windowSize, settings.windowSize, count * perFace);
  for k = 1:count
    windows(:, :, (k - 1) * perFace + (1:perFace)) = crop_windows(faces(:, :, k), boxes, ...
                                                                  settings.windowSize);
  end
end
