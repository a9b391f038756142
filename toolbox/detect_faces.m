function [detections, sketch, report] = detect_faces(image, template, filters, stamps, varargin)
% DETECT_FACES  Find faces in an image with a learned template, at several scales.
%
%   detections = detect_faces(image, template, filters, stamps)
%   detections = detect_faces(image, template, filters, stamps, settings)
%   detections = detect_faces(image, template, filters, stamps, 'name', value, ...)
%   [detections, sketch, report] = detect_faces(...)
%
%   The image is resized so that each face height of faceSizes matches the template's
%   height (scalum). At every scale it is filtered (filtrum), the normalizer maps are made
%   (brelind), the responses pooled (vindral) and every placement whose box lies inside the
%   image scored (gastrelblock, as gastrel scores it), and each scale's best placement found
%   (lurvane). Then, repeatedly, the best placement over all scales is taken; the template as
%   deformed there is drawn (tarrow); what its elements explain is inhibited at that scale
%   and at the matching place of every other scale, so that neither the face nor a
%   neighbouring scale of it is found again, and only the placements that the inhibition can
%   reach are scored again (tarrowvetoblock: tarrowveto's inhibition, gastrelblock's
%   scoring); placements centred within exclusionRadius times the detection's height are
%   ruled out and each scale's best is brought up to date (lurvaneveto). The search stops
%   after detectionCount detections, when the best score left falls below scoreThreshold, or
%   when every placement is ruled out; the report says which.
%   Without faceSizes, every size from smallestFace up to the image's shorter side is
%   searched, sizeStep apart. A detection inhibits only the sizes within inhibitionReach of
%   its own; at sizes beyond, it rules out the placements centred within exclusionRadius
%   times the smaller of the two face heights (a face inside a large box, or a large box
%   around a face, are other objects).
%
%   Scores that compare across sizes: the template's score sums the evidence of its
%   elements in a window resized to the template, and textures seen at one size (brick,
%   stripes, a round logo) can outscore faces seen at another. When the template carries a
%   re-ranking model (template.ranker, learned by face_template) and rerank is 1, the
%   search makes max(candidateFactor * detectionCount, candidateMinimum) candidates, and
%   rerank_detections rescores each candidate's box, resampled to a fixed window whatever
%   its size, by a logistic model learned from faces against the template's own best
%   mistakes on face-free photos (refining the box by small shifts on the way); the score
%   becomes that model's log odds plus scoreWeight times the template's score, a quantity
%   that means the same at every size, and the detectionCount best are returned in its
%   order.
%
%   The maps of a search stay in memory, up to keptMapsLimit GB (1 by default), and the
%   next search on a photo of the same size reuses them instead of making fresh ones, which
%   saves Octave's allocating and zeroing them for each photo of a batch; clear
%   detect_faces releases them, and keptMapsLimit 0 keeps none.
%
%   Sizes larger than the image are skipped (with a note). A search that cannot work is
%   refused: detect_faces:imageTooSmall when no size fits the image, detect_faces:tooCostly
%   when the smallest size would enlarge the image more than maxEnlargement times or the
%   maps of all scales would need more than memoryLimit GB (the message gives the cost and
%   how to avoid it).
%
%   Arguments:
%     image     rows x cols grey or rows x cols x 3 colour image of any numeric class
%               (integer classes are scaled to [0, 1]; colour is converted as read_image
%               converts it), refused otherwise with detect_faces:badImage.
%     template  learned template (learn_template); its params give the filter, pooling,
%               saturation and normalizer settings.
%     filters   the filter bank and stamps the template was learned with (filter_bank);
%     stamps    others are refused with detect_faces:filterMismatch.
%     settings  optional struct or name/value pairs (detector_settings): faceSizes,
%               smallestFace, sizeStep, detectionCount, scoreThreshold, exclusionRadius,
%               inhibitionReach, maxEnlargement, memoryLimit, keptMapsLimit, the
%               re-ranking settings (rerank, candidateFactor, candidateMinimum,
%               scoreWeight, refine...) and
%               verbose (1, the default, prints a line per scale as it is prepared and
%               per detection as it is found, or when re-ranking per detection kept; 2
%               also per candidate; 0 prints nothing). Learning settings may be given only
%               with the template's values.
%   Returns:
%     detections  struct array in the order found (when re-ranked, in the order of the
%                 re-ranked score), fields row, col (box centre, image pixels, 1-based),
%                 height, width (box size in image pixels), score, scale (index into
%                 faceSizes, or into report.faceSizes when the sizes are automatic),
%                 templateScore (the template's score), modelScore (the re-ranking model's
%                 log odds; NaN without re-ranking, score then being the template's) and
%                 sketch (the deformed template drawn over the box the template found, an
%                 array of that box's size in image pixels, boxTop and boxLeft its first
%                 row and column, possibly outside the image).
%     sketch      image-sized single array: every detection's deformed template.
%     report      struct: faceSizes (the sizes searched), skippedSizes (too large for the
%                 image, or left out of an automatic search by memoryLimit) and stopReason
%                 (why fewer than detectionCount detections were made; empty when all
%                 were).
%
%   Example:
%     [filters, stamps] = filter_bank('orientCount', 4);
%     template = struct('elementCount', 2, 'orients', [0 2], 'rowOffsets', [5 10], ...
%                       'colOffsets', [8 8], 'weights', [1 1], 'biases', [0 0], ...
%                       'templateRows', 40, 'templateCols', 40, ...
%                       'params', detector_settings('orientCount', 4));
%     scene = zeros(120, 160); scene(40:60, 50:90) = 1;        % a bright block
%     found = detect_faces(scene, template, filters, stamps, 'faceSizes', 40, ...
%                          'detectionCount', 2, 'verbose', 0);
%     printf('%d detections, the first at row %.1f\n', numel(found), found(1).row);

  check_template('detect_faces', template, 2);
  settings = detection_settings(template, varargin);
  check_filters('detect_faces', filters, stamps, template.params);
  image = grey_image(image, 'detect_faces', 'the image');
  verbose = settings.verbose;
  [rows, cols] = size(image);
  [plan, report] = plan_scales(rows, cols, template.templateRows, template.templateCols, ...
                               template.params, settings);
  scales = scale_geometry(plan, rows, cols);
  maps = prepare_maps(image, scales, template, filters, settings);
  % Every scale is one image of the plug-ins' grids, so that each step below is one call
  % over all scales; the maps are changed only in this function's own scope, so that no map
  % is copied.
  overlap = overlap_table(filters, template.params.overlapThreshold);
  reranking = settings.rerank && isfield(template, 'ranker');
  searched = settings.detectionCount;
  foundName = 'detection';
  if reranking
    searched = max(ceil(settings.candidateFactor * settings.detectionCount), ...
                   settings.candidateMinimum);
    foundName = 'candidate';
  end
  % Each scale's best placement, found over the whole map once and then kept up to date
  % after each detection by lurvaneveto.
  bestScores = zeros(1, scales.count, 'single');
  bestRows = zeros(1, scales.count);
  bestCols = zeros(1, scales.count);
  lurvane(scales.count, scales.rows, scales.cols, template.params.poolStep, ...
          template.templateRows, template.templateCols, maps.scores, bestScores, bestRows, bestCols);
  found = cell(1, searched);
  drawings = cell(1, searched);
  reach = rescoring_reach(scales, template);
  for n = 1:searched
    [score, k] = best_over_scales(bestScores, bestRows);
    if k == 0
      report.stopReason = 'every placement left is ruled out by earlier detections';
      break;
    end
    if score < settings.scoreThreshold
      report.stopReason = sprintf('the best score left, %.4f, is below scoreThreshold %g', ...
                                  score, settings.scoreThreshold);
      break;
    end
    anchorRow = bestRows(k);
    anchorCol = bestCols(k);
    detection = describe(scales, k, anchorRow, anchorCol, template, score);
    % Drawn once the detections are chosen (candidates the re-ranking drops are never drawn),
    % from a crop of the maps as they are now, before this detection's inhibition.
    drawings{n} = drawing_crop(maps, k, anchorRow, anchorCol, template, detection);
    found{n} = detection;
    if verbose > reranking
      say(1, 'detect_faces: %s %d: score %.4f at row %.1f, col %.1f, face of %.0f px\n', ...
          foundName, n, detection.score, detection.row, detection.col, detection.height);
    end
    [anchorRows, anchorCols] = map_anchors(scales, detection, template);
    % Scales of faces much larger or smaller than the detection's hold other objects (a face
    % within a large box, a large box around a face): they are not inhibited, and only the
    % placements centred within the radius of the smaller face are ruled out there.
    unreached = scales.faceSize > scales.faceSize(k) * settings.inhibitionReach | ...
                scales.faceSize < scales.faceSize(k) / settings.inhibitionReach;
    excludedHeights = detection.height * ones(1, scales.count);
    excludedHeights(unreached) = min(detection.height, scales.faceSize(unreached));
    anchorRows(unreached) = NaN;
    anchorCols(unreached) = NaN;
    block = inhibit_and_rescore(maps, scales, anchorRows, anchorCols, template, stamps, overlap, ...
                                reach, drawings{n});
    % Rules out the placements centred within exclusionRadius times the detection's height
    % of its centre, and brings each scale's best up to date: sought again over the whole map
    % only where it was ruled out or lay in the rescored block.
    lurvaneveto(scales.count, scales.rows, scales.cols, template.params.poolStep, ...
                template.templateRows, template.templateCols, maps.scores, bestScores, bestRows, ...
                bestCols, scales.rowFactor, scales.colFactor, detection.row, detection.col, ...
                settings.exclusionRadius * excludedHeights, block.firstRows, block.lastRows, ...
                block.firstCols, block.lastCols);
  end
  % Octave drops a struct's fields when it is joined with an empty list, so no detection is
  % made explicitly.
  detections = [found{:}];
  if isempty(detections)
    detections = empty_detections();
  end
  kept = 1:numel(detections);
  if reranking
    [detections, report, kept] = reranked(image, detections, template.ranker, filters, settings, ...
                                          report);
  end
  canvases = draw_templates(drawings(kept), template, stamps);
  for d = 1:numel(detections)
    [detections(d).sketch, detections(d).boxTop, detections(d).boxLeft] = ...
        box_sketch(canvases{d}, drawings{kept(d)}, scales, template);
  end
  if nargout >= 2
    sketch = sketch_of(detections, rows, cols);
  end
  if ~isempty(report.stopReason)
    say(verbose, 'detect_faces: %d of %d detections asked: %s\n', numel(detections), ...
        settings.detectionCount, report.stopReason);
  end
end

function sketch = sketch_of(detections, rows, cols)
% An image of rows x cols holding every detection's sketch, the largest value where they
% overlap.
  sketch = zeros(rows, cols, 'single');
  for d = 1:numel(detections)
    [canvasRows, canvasCols, boxRows, boxCols] = overlap_of(size(sketch), ...
        size(detections(d).sketch), detections(d).boxTop, detections(d).boxLeft);
    sketch(canvasRows, canvasCols) = max(sketch(canvasRows, canvasCols), ...
                                         detections(d).sketch(boxRows, boxCols));
  end
end

function [detections, report, kept] = reranked(image, candidates, ranker, filters, settings, report)
% The candidates re-ranked by the template's model, the first detectionCount kept (kept:
% their indices among the candidates): each one's score becomes its re-ranked score
% (modelScore plus scoreWeight times templateScore).
  started = tic;
  [detections, order] = rerank_detections(image, candidates, ranker, filters, settings);
  kept = order(1:min(end, settings.detectionCount));
  detections = detections(1:numel(kept));
  for d = 1:numel(detections)
    detections(d).score = detections(d).finalScore;
  end
  detections = rmfield(detections, 'finalScore');
  if numel(detections) == settings.detectionCount
    report.stopReason = '';
  end
  say(settings.verbose, 'detect_faces: %d candidates re-ranked (%.2f s)\n', numel(candidates), ...
      toc(started));
  for d = 1:numel(detections)
    say(settings.verbose, ['detect_faces: detection %d: score %.4f (template %.4f) at row %.1f, ' ...
        'col %.1f, face of %.0f px\n'], d, detections(d).score, detections(d).templateScore, ...
        detections(d).row, detections(d).col, detections(d).height);
  end
end

function settings = detection_settings(template, args)
% The call's settings; a learning setting may be named only with the template's value.
  [settings, givenNames] = resolve_settings('detect_faces', args);
  [~, rules] = detector_settings();
  learning = rules(strcmp(rules(:, 4), 'learning'), 1);
  for k = 1:numel(givenNames)
    name = givenNames{k};
    if any(strcmp(learning, name)) && isfield(template.params, name) && ...
       ~isequal(settings.(name), template.params.(name))
      error('detect_faces:badOption', ['detect_faces: option ''%s'' is fixed by the template, ' ...
            'learned with %g; got %g'], name, template.params.(name), settings.(name));
    end
  end
end


function scales = scale_geometry(plan, rows, cols)
% The scales as rows of numbers: each one's size index, size, sides and factors from the image.
  scales.sizeIndex = cellfun(@(scale) scale.sizeIndex, plan);
  scales.faceSize = cellfun(@(scale) scale.faceSize, plan);
  scales.rows = cellfun(@(scale) scale.rows, plan);
  scales.cols = cellfun(@(scale) scale.cols, plan);
  scales.rowFactor = scales.rows / rows;
  scales.colFactor = scales.cols / cols;
  scales.count = numel(plan);
end

function maps = prepare_maps(image, scales, template, filters, settings)
% Filters each resized copy of the image, then normalizes, pools and scores all of them:
% grids of scale x orientation maps.
  p = template.params;
  [maps, taps] = search_workspace(size(image), scales, p.poolStep, numel(filters), ...
                                  settings.keptMapsLimit);
  for k = 1:scales.count
    started = tic;
    filter_in_place(resize_image(image, scales.rows(k), scales.cols(k), taps{k}), filters, ...
                    maps.responses(k, :));
    say(settings.verbose, ['detect_faces: scale %d of %d: faces of %.0f px, image resized to ' ...
        '%d x %d and filtered (%.2f s)\n'], k, scales.count, ...
        scales.faceSize(k), scales.rows(k), scales.cols(k), toc(started));
  end
  started = tic;
  normalizer_maps(maps.responses, p, maps.normalizer);
  vindral(scales.count, scales.rows, scales.cols, numel(filters), p.posShiftMax, ...
          p.orientShiftMax, p.poolStep, maps.responses, maps.pooled, maps.traces);
  % The score maps are made fresh for each search: the search rules placements out in them,
  % and gastrelblock leaves a ruled-out score as it is.
  maps.scores = blank_score_maps(scales, template);
  score_placements(maps.pooled, maps.normalizer, maps.scores, scales.rows, scales.cols, template);
  say(settings.verbose, 'detect_faces: %d scales normalized, pooled and scored (%.2f s)\n', ...
      scales.count, toc(started));
end

function [maps, taps] = search_workspace(imageSize, scales, step, orientCount, keptMapsLimit)
% The response, normalizer, pooled and trace maps of every scale, which the plug-ins above
% overwrite whole, and each scale's resampling taps: those of the previous search when it had
% the same image and scale sizes, so that Octave need not allocate and zero the maps and work
% the taps out again for each photo of a batch; fresh ones otherwise. Maps of up to
% keptMapsLimit GB stay kept for the next search; clear detect_faces releases them.
  persistent kept
  bytesPerGB = 1e9;
  bytesPerValue = 4;
  shape = {imageSize, scales.rows, scales.cols, orientCount, step};
  if ~isempty(kept) && isequal(kept.shape, shape) && kept.bytes <= keptMapsLimit * bytesPerGB
    maps = kept.maps;
    taps = kept.taps;
    return;
  end
  kept = [];
  imageSizes = [scales.rows', scales.cols'];
  pooledSizes = floor(imageSizes / step);
  maps.responses = fresh_maps(imageSizes, orientCount);
  maps.normalizer = fresh_maps(imageSizes, 1)';
  maps.pooled = fresh_maps(pooledSizes, orientCount);
  maps.traces = fresh_maps(pooledSizes, orientCount);
  bytes = bytesPerValue * ((orientCount + 1) * sum(prod(imageSizes, 2)) + ...
                           2 * orientCount * sum(prod(pooledSizes, 2)));
  taps = cell(1, scales.count);
  for k = 1:scales.count
    taps{k} = resampling_taps(imageSize(1), imageSize(2), scales.rows(k), scales.cols(k));
  end
  if bytes <= keptMapsLimit * bytesPerGB
    kept = struct('shape', {shape}, 'maps', maps, 'taps', {taps}, 'bytes', bytes);
  end
end

function [lastRows, lastCols] = last_inside_anchors(rows, cols, template)
% Per scale, the last anchor row and column of a placement whose box lies wholly inside the
% image (the first is 0): near the edges the filters see the replicated border, not the scene.
  step = template.params.poolStep;
  lastRows = floor((rows - template.templateRows) / step);
  lastCols = floor((cols - template.templateCols) / step);
end

function scores = blank_score_maps(scales, template)
% Each scale's score map, made fresh: 0 at the placements whose box lies wholly inside the
% image, which score_placements scores, and ruled out at the others.
  step = template.params.poolStep;
  tRowsPooled = floor(template.templateRows / step);
  tColsPooled = floor(template.templateCols / step);
  [lastRows, lastCols] = last_inside_anchors(scales.rows, scales.cols, template);
  scores = cell(1, scales.count);
  for k = 1:scales.count
    map = zeros(floor((scales.rows(k) + template.templateRows) / step), ...
                floor((scales.cols(k) + template.templateCols) / step), 'single');
    anchorRows = (1:size(map, 1))' - tRowsPooled;
    anchorCols = (1:size(map, 2)) - tColsPooled;
    map(anchorRows < 0 | anchorRows > lastRows(k), :) = ruled_out();
    map(:, anchorCols < 0 | anchorCols > lastCols(k)) = ruled_out();
    scores{k} = map;
  end
end

function score_placements(pooled, normalizer, scores, rows, cols, template)
% Scores, into the score maps, the placements of the template whose box lies wholly inside
% the image on each image's pooled maps (gastrelblock), the block of anchors blank_score_maps
% leaves at 0.
  p = template.params;
  count = numel(rows);
  [lastRows, lastCols] = last_inside_anchors(rows, cols, template);
  gastrelblock(count, rows, cols, size(pooled, 2), p.poolStep, template.templateRows, ...
               template.templateCols, template.elementCount, template.orients, template.rowOffsets, ...
               template.colOffsets, template.weights, template.biases, pooled, scores, ...
               normalizer, p.saturationLevel, zeros(1, count), lastRows, zeros(1, count), lastCols);
end

function value = ruled_out()
% The score of a placement that must never be chosen: lurvane takes only scores above it.
  value = single(-1e10);
end

function [score, k] = best_over_scales(bestScores, bestRows)
% The highest of the scales' best scores and its scale; of equal scores, the first scale's.
% k is 0 when every placement of every scale is ruled out (NaN anchors).
  candidates = bestScores;
  candidates(isnan(bestRows)) = -Inf;
  [score, k] = max(candidates);
  if score == -Inf
    k = 0;
  end
end

function detection = describe(scales, k, anchorRow, anchorCol, template, score)
% The detection of a placement at scale k with the given score: its box in image pixels
% (centre and size), its template score, and the fields the drawing and the re-ranking fill
% in later.
  step = template.params.poolStep;
  centreRow = anchorRow * step + (template.templateRows + 1) / 2;
  centreCol = anchorCol * step + (template.templateCols + 1) / 2;
  score = double(score);
  detection = struct('row', (centreRow - 0.5) / scales.rowFactor(k) + 0.5, ...
                     'col', (centreCol - 0.5) / scales.colFactor(k) + 0.5, ...
                     'height', template.templateRows / scales.rowFactor(k), ...
                     'width', template.templateCols / scales.colFactor(k), 'score', score, ...
                     'scale', scales.sizeIndex(k), 'sketch', [], 'boxTop', NaN, 'boxLeft', NaN, ...
                     'templateScore', score, 'modelScore', NaN);
end

function detections = empty_detections()
% No detection, with describe's fields in its order.
  detections = struct('row', {}, 'col', {}, 'height', {}, 'width', {}, 'score', {}, ...
                      'scale', {}, 'sketch', {}, 'boxTop', {}, 'boxLeft', {}, ...
                      'templateScore', {}, 'modelScore', {});
end

function [rows, cols] = map_anchors(scales, detection, template)
% The anchor at every scale whose box has the same centre as the detection's.
  step = template.params.poolStep;
  centreRows = (detection.row - 0.5) * scales.rowFactor + 0.5;
  centreCols = (detection.col - 0.5) * scales.colFactor + 0.5;
  rows = round((centreRows - (template.templateRows + 1) / 2) / step);
  cols = round((centreCols - (template.templateCols + 1) / 2) / step);
end

function drawing = drawing_crop(maps, k, anchorRow, anchorCol, template, detection)
% What draw_templates and box_sketch need to draw a detection at scale k later: maps for crops
% of the scale's pooled and trace maps around the placement (pooled rows and columns covering
% the template's box plus a margin enough for every stamp, clipped to the maps), which
% inhibit_and_rescore fills before it inhibits the scale, the placement in the crop, and the
% box the template found.
  p = template.params;
  step = p.poolStep;
  margin = ceil(p.filterHalf / step) + p.posShiftMax;
  [pooledRows, pooledCols] = size(maps.pooled{k, 1});
  firstRow = max(1, anchorRow + 1 - margin);
  firstCol = max(1, anchorCol + 1 - margin);
  lastRow = min(pooledRows, ceil(anchorRow + template.templateRows / step) + margin);
  lastCol = min(pooledCols, ceil(anchorCol + template.templateCols / step) + margin);
  orientCount = size(maps.pooled, 2);
  % Slices of one zero array, each a map of its own, made in one call for speed.
  cropSize = [lastRow - firstRow + 1, lastCol - firstCol + 1];
  crops = reshape(num2cell(zeros([cropSize, 2 * orientCount], 'single'), [1 2]), 1, []);
  drawing = struct('scale', k, 'pooled', {crops(1:orientCount)}, ...
                   'traces', {crops(orientCount + 1:end)}, 'firstRow', firstRow, ...
                   'firstCol', firstCol, 'anchorRow', anchorRow - firstRow + 1, ...
                   'anchorCol', anchorCol - firstCol + 1, 'box', detection);
end

function canvases = draw_templates(drawings, template, stamps)
% Draws the deformed template (tarrow) on each drawing's crop of its scale's pooled maps, all
% in one call: one canvas per drawing, of its crop's size in the scale's pixels.
  p = template.params;
  step = p.poolStep;
  count = numel(drawings);
  cropRows = zeros(1, count);
  cropCols = zeros(1, count);
  orientCount = numel(stamps);
  pooled = cell(count, orientCount);
  traces = cell(count, orientCount);
  anchorRows = zeros(1, count);
  anchorCols = zeros(1, count);
  for d = 1:count
    [cropRows(d), cropCols(d)] = size(drawings{d}.pooled{1});
    pooled(d, :) = drawings{d}.pooled;
    traces(d, :) = drawings{d}.traces;
    anchorRows(d) = drawings{d}.anchorRow;
    anchorCols(d) = drawings{d}.anchorCol;
  end
  canvases = fresh_maps([cropRows', cropCols'] * step, 1)';
  tarrow(count, cropRows * step, cropCols * step, orientCount, p.posShiftMax, p.orientShiftMax, ...
         step, p.filterHalf, stamps, template.elementCount, template.orients, template.rowOffsets, ...
         template.colOffsets, pooled, traces, canvases, anchorRows, anchorCols, p.saturationLevel);
end

function [boxSketch, boxTop, boxLeft] = box_sketch(canvas, drawing, scales, template)
% A drawing's canvas resampled to the box the template found, in image pixels.
  step = template.params.poolStep;
  k = drawing.scale;
  detection = drawing.box;
  [cropRows, cropCols] = size(canvas);
  boxTop = round(detection.row - detection.height / 2);
  boxLeft = round(detection.col - detection.width / 2);
  boxRows = boxTop + (0:round(detection.height) - 1);
  boxCols = boxLeft + (0:round(detection.width) - 1);
  % Image pixel u lies at scaled pixel (u - 0.5)*factor + 0.5, i.e. crop pixel minus the
  % crop's offset of (first pooled position - 1)*step.
  sampleRows = (boxRows' - 0.5) * scales.rowFactor(k) + 0.5 - (drawing.firstRow - 1) * step;
  sampleCols = (boxCols - 0.5) * scales.colFactor(k) + 0.5 - (drawing.firstCol - 1) * step;
  boxSketch = single(interpolation_matrix(sampleRows, cropRows) * double(canvas) * ...
                     interpolation_matrix(sampleCols, cropCols)');
end

function reach = rescoring_reach(scales, template)
% What inhibit_and_rescore needs of the template and the scales, computed once per search: per side,
% how far before and after an inhibited anchor the anchors whose elements can lie in the
% touched rectangle reach, and the scales' first and last anchors.
  p = template.params;
  step = p.poolStep;
  % Inhibition reaches 2h pixels beyond an element's shifted place, and re-pooling a
  % further posShiftMax pooled positions.
  pooledReach = ceil((2 * p.filterHalf + p.posShiftMax * step) / step) + p.posShiftMax + 1;
  rowSpan = max(template.rowOffsets) - min(template.rowOffsets);
  colSpan = max(template.colOffsets) - min(template.colOffsets);
  reach = struct('rows', pooledReach + rowSpan, 'cols', pooledReach + colSpan, ...
                 'firstRow', 1 - floor(template.templateRows / step), ...
                 'lastRows', floor(scales.rows / step), ...
                 'firstCol', 1 - floor(template.templateCols / step), ...
                 'lastCols', floor(scales.cols / step));
end

function block = inhibit_and_rescore(maps, scales, anchorRows, anchorCols, template, stamps, ...
                                     overlap, reach, drawing)
% Inhibits, at every scale, what the template explains at that scale's anchor, and scores again,
% in place, every anchor with an element inside the pooled rectangle that inhibition touched
% (tarrowvetoblock: tarrowveto's inhibition, then gastrelblock's scoring, each scale's block
% scored as soon as the scale is inhibited; nothing is drawn, the detections being drawn by
% draw_templates, from the crops of the drawing's scale that the call first fills).
% Placements ruled out stay so. Returns the block's bounds per scale in anchors (NaN where the
% scale was not inhibited: NaN anchor), as gastrelblock reads them.
  % Per scale: the anchors whose elements can lie in the touched rectangle, within the
  % scale's anchors. max and min pass NaN over: a scale without an anchor must keep NaN
  % bounds (no block).
  block.firstRows = max(anchorRows - reach.rows, reach.firstRow);
  block.firstRows(isnan(anchorRows)) = NaN;
  block.lastRows = min(anchorRows + reach.rows, reach.lastRows);
  block.firstCols = max(anchorCols - reach.cols, reach.firstCol);
  block.lastCols = min(anchorCols + reach.cols, reach.lastCols);
  p = template.params;
  tarrowvetoblock(scales.count, scales.rows, scales.cols, numel(stamps), p.posShiftMax, ...
                  p.orientShiftMax, p.poolStep, p.filterHalf, stamps, template.elementCount, ...
                  template.orients, template.rowOffsets, template.colOffsets, template.weights, ...
                  template.biases, maps.responses, maps.pooled, maps.traces, {}, anchorRows, ...
                  anchorCols, p.saturationLevel, template.templateRows, template.templateCols, ...
                  overlap, zeros(1, scales.count, 'single'), maps.normalizer, maps.scores, ...
                  block.firstRows, block.lastRows, block.firstCols, block.lastCols, ...
                  drawing.scale, drawing.firstRow, drawing.firstCol, size(drawing.pooled{1}, 1), ...
                  size(drawing.pooled{1}, 2), drawing.pooled, drawing.traces);
end
