function [detections, sketch, report] = detect_faces(image, template, filters, stamps, varargin)
% DETECT_FACES  Find faces in an image with a learned template, at several scales.
%
%   detections = detect_faces(image, template, filters, stamps)
%   detections = detect_faces(image, template, filters, stamps, settings)
%   detections = detect_faces(image, template, filters, stamps, 'name', value, ...)
%   [detections, sketch, report] = detect_faces(...)
%
%   The image is resized so that each face height of faceSizes matches the template's
%   height. At every scale it is filtered, the normalizer maps are made (brelind), the
%   responses pooled (vindral) and every placement scored (gastrel). Then, repeatedly, the
%   best placement over all scales is found (lurvane); the template as deformed there is
%   drawn (tarrow); tarrowveto inhibits what its elements explain at that scale and at the
%   matching place of every other scale, so that neither the face nor a neighbouring scale
%   of it is found again; placements centred within exclusionRadius times the detection's
%   height are ruled out; and only the placements that the inhibition can reach are scored
%   again. The search stops after detectionCount detections, when the best score left falls
%   below scoreThreshold, or when every placement is ruled out; the report says which.
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
%               detectionCount, scoreThreshold, exclusionRadius, maxEnlargement,
%               memoryLimit and verbose (1, the default, prints a line per scale as it is
%               prepared and per detection as it is found; 0 prints nothing). Learning
%               settings may be given only with the template's values.
%   Returns:
%     detections  struct array in the order found, fields row, col (box centre, image
%                 pixels, 1-based), height, width (box size in image pixels), score,
%                 scale (index into faceSizes) and sketch (the deformed template drawn
%                 over the box, an array of the box's size in image pixels, boxTop and
%                 boxLeft its first row and column, possibly outside the image).
%     sketch      image-sized single array: every detection's deformed template.
%     report      struct: faceSizes (the sizes searched), skippedSizes (too large for the
%                 image) and stopReason (why fewer than detectionCount detections were
%                 made; empty when all were).
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
  [scales, report] = plan_scales(rows, cols, template.templateRows, template.templateCols, ...
                                 template.params, settings);
  for k = 1:numel(scales)
    started = tic;
    scales{k} = prepare_scale(image, scales{k}, template, filters);
    say(verbose, 'detect_faces: scale %d of %d: faces of %.0f px, image resized to %d x %d (%.2f s)\n', ...
        k, numel(scales), settings.faceSizes(scales{k}.sizeIndex), scales{k}.rows, ...
        scales{k}.cols, toc(started));
  end
  overlap = overlap_table(filters, template.params.overlapThreshold);
  sketch = zeros(rows, cols, 'single');
  detections = struct('row', {}, 'col', {}, 'height', {}, 'width', {}, 'score', {}, ...
                      'scale', {}, 'sketch', {}, 'boxTop', {}, 'boxLeft', {});
  report.stopReason = '';
  for n = 1:settings.detectionCount
    [score, k, anchorRow, anchorCol] = best_over_scales(scales, template);
    if isnan(anchorRow)
      report.stopReason = 'every placement left is ruled out by earlier detections';
      break;
    end
    if score < settings.scoreThreshold
      report.stopReason = sprintf('the best score left, %.4f, is below scoreThreshold %g', ...
                                  score, settings.scoreThreshold);
      break;
    end
    detection = describe(scales{k}, anchorRow, anchorCol, template);
    detection.score = double(score);
    detection.scale = scales{k}.sizeIndex;
    [detection.sketch, detection.boxTop, detection.boxLeft] = ...
        draw_detection(scales{k}, anchorRow, anchorCol, template, stamps, detection);
    detections(end + 1) = detection;
    say(verbose, 'detect_faces: detection %d: score %.4f at row %.1f, col %.1f, face of %.0f px\n', ...
        n, detection.score, detection.row, detection.col, detection.height);
    sketch = paste_max(sketch, detection.sketch, detection.boxTop, detection.boxLeft);
    for j = 1:numel(scales)
      [jRow, jCol] = map_anchor(scales{j}, detection, template);
      scales{j} = inhibit(scales{j}, jRow, jCol, template, stamps, overlap);
      scales{j} = exclude_near(scales{j}, detection, settings.exclusionRadius * detection.height, ...
                               template);
    end
  end
  if ~isempty(report.stopReason)
    say(verbose, 'detect_faces: %d of %d detections asked: %s\n', numel(detections), ...
        settings.detectionCount, report.stopReason);
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

function say(verbose, varargin)
% Prints a progress line when verbose is 1 or more.
  if verbose >= 1
    printf(varargin{:});
  end
end

function scale = prepare_scale(image, scale, template, filters)
% Filters, normalizes, pools and scores one resized copy of the image.
  p = template.params;
  scaledRows = scale.rows;
  scaledCols = scale.cols;
  scale.rowFactor = scaledRows / size(image, 1);
  scale.colFactor = scaledCols / size(image, 2);
  scale.responses = filter_responses(resize_image(image, scaledRows, scaledCols), filters);
  scale.normalizer = normalizer_maps(scale.responses, p);
  pooledSize = floor([scaledRows, scaledCols] / p.poolStep);
  scale.pooled = fresh_maps(pooledSize, numel(filters));
  scale.traces = fresh_maps(pooledSize, numel(filters));
  vindral(1, scaledRows, scaledCols, numel(filters), p.posShiftMax, p.orientShiftMax, ...
          p.poolStep, scale.responses, scale.pooled, scale.traces);
  scores = score_placements(scale.pooled, scale.normalizer, scaledRows, scaledCols, template);
  scale.scores = mask_outside(scores, scaledRows, scaledCols, template);
  scale.scratch = {zeros(scaledRows, scaledCols, 'single')};
end

function scores = score_placements(pooled, normalizer, rows, cols, template)
% Scores every placement of the template on one image's pooled maps (gastrel).
  p = template.params;
  scores = {zeros(floor((template.templateRows + rows) / p.poolStep), ...
                  floor((template.templateCols + cols) / p.poolStep), 'single')};
  gastrel(1, rows, cols, numel(pooled), p.poolStep, template.templateRows, ...
          template.templateCols, template.elementCount, template.orients, template.rowOffsets, ...
          template.colOffsets, template.weights, template.biases, pooled, scores, ...
          normalizer, p.saturationLevel);
  scores = scores{1};
end

function scores = mask_outside(scores, rows, cols, template)
% Rules out the placements whose box does not lie wholly inside the image: near the edges
% the filters see the replicated border, not the scene.
  step = template.params.poolStep;
  tRowsPooled = floor(template.templateRows / step);
  tColsPooled = floor(template.templateCols / step);
  anchorRows = (1:size(scores, 1))' - tRowsPooled;
  anchorCols = (1:size(scores, 2)) - tColsPooled;
  scores(anchorRows < 0 | anchorRows * step + template.templateRows > rows, :) = ruled_out();
  scores(:, anchorCols < 0 | anchorCols * step + template.templateCols > cols) = ruled_out();
end

function value = ruled_out()
% The score of a placement that must never be chosen: lurvane takes only scores above it.
  value = single(-1e10);
end

function [best, bestScale, anchorRow, anchorCol] = best_over_scales(scales, template)
% The highest score of all scales (lurvane per scale) and its anchor.
  best = -Inf; bestScale = 0; anchorRow = NaN; anchorCol = NaN;
  for k = 1:numel(scales)
    score = zeros(1, 1, 'single'); row = zeros(1, 1); col = zeros(1, 1);
    lurvane(1, scales{k}.rows, scales{k}.cols, template.params.poolStep, ...
            template.templateRows, template.templateCols, {scales{k}.scores}, score, row, col);
    if ~isnan(row) && score > best
      best = score; bestScale = k; anchorRow = row; anchorCol = col;
    end
  end
end

function detection = describe(scale, anchorRow, anchorCol, template)
% The box of a placement in image pixels: centre and size.
  step = template.params.poolStep;
  centreRow = anchorRow * step + (template.templateRows + 1) / 2;
  centreCol = anchorCol * step + (template.templateCols + 1) / 2;
  detection.row = (centreRow - 0.5) / scale.rowFactor + 0.5;
  detection.col = (centreCol - 0.5) / scale.colFactor + 0.5;
  detection.height = template.templateRows / scale.rowFactor;
  detection.width = template.templateCols / scale.colFactor;
end

function [row, col] = map_anchor(scale, detection, template)
% The anchor at another scale whose box has the same centre as the detection's.
  step = template.params.poolStep;
  centreRow = (detection.row - 0.5) * scale.rowFactor + 0.5;
  centreCol = (detection.col - 0.5) * scale.colFactor + 0.5;
  row = round((centreRow - (template.templateRows + 1) / 2) / step);
  col = round((centreCol - (template.templateCols + 1) / 2) / step);
end

function [boxSketch, boxTop, boxLeft] = draw_detection(scale, anchorRow, anchorCol, template, ...
                                                       stamps, detection)
% Draws the deformed template (tarrow) on a crop of the pooled maps around the placement and
% resamples the drawing to the detection's box in image pixels.
  p = template.params;
  step = p.poolStep;
  margin = ceil(p.filterHalf / step) + p.posShiftMax;
  [rowRange, colRange] = pooled_crop(scale, anchorRow + [1, template.templateRows / step], ...
                                     anchorCol + [1, template.templateCols / step], margin);
  cropRows = numel(rowRange) * step;
  cropCols = numel(colRange) * step;
  drawing = {zeros(cropRows, cropCols, 'single')};
  tarrow(1, cropRows, cropCols, numel(stamps), p.posShiftMax, p.orientShiftMax, step, ...
         p.filterHalf, stamps, template.elementCount, template.orients, template.rowOffsets, ...
         template.colOffsets, crop_cells(scale.pooled, rowRange, colRange), ...
         crop_cells(scale.traces, rowRange, colRange), drawing, ...
         anchorRow - rowRange(1) + 1, anchorCol - colRange(1) + 1, p.saturationLevel);
  boxTop = round(detection.row - detection.height / 2);
  boxLeft = round(detection.col - detection.width / 2);
  boxRows = boxTop + (0:round(detection.height) - 1);
  boxCols = boxLeft + (0:round(detection.width) - 1);
  % Image pixel u lies at scaled pixel (u - 0.5)*factor + 0.5, i.e. crop pixel minus the
  % crop's offset of (first pooled position - 1)*step.
  sampleRows = (boxRows' - 0.5) * scale.rowFactor + 0.5 - (rowRange(1) - 1) * step;
  sampleCols = (boxCols - 0.5) * scale.colFactor + 0.5 - (colRange(1) - 1) * step;
  boxSketch = single(interp2(double(drawing{1}), sampleCols, sampleRows, 'linear', 0));
end

function scale = inhibit(scale, anchorRow, anchorCol, template, stamps, overlap)
% Inhibits what the template explains at the anchor (tarrowveto), then scores again the
% placements whose elements can see an inhibited pooled value.
  p = template.params;
  step = p.poolStep;
  tarrowveto(1, scale.rows, scale.cols, numel(stamps), p.posShiftMax, p.orientShiftMax, step, ...
             p.filterHalf, stamps, template.elementCount, template.orients, ...
             template.rowOffsets, template.colOffsets, template.weights, template.biases, ...
             scale.responses, scale.pooled, scale.traces, scale.scratch, anchorRow, anchorCol, ...
             p.saturationLevel, template.templateRows, template.templateCols, ...
             overlap, zeros(1, 1, 'single'), scale.normalizer);
  % Inhibition reaches 2h pixels beyond an element's shifted place, and re-pooling a
  % further posShiftMax pooled positions.
  reach = ceil((2 * p.filterHalf + p.posShiftMax * step) / step) + p.posShiftMax + 1;
  touchedRows = anchorRow + [min(template.rowOffsets), max(template.rowOffsets)] + [-reach, reach];
  touchedCols = anchorCol + [min(template.colOffsets), max(template.colOffsets)] + [-reach, reach];
  scale = rescore(scale, touchedRows, touchedCols, template);
end

function scale = rescore(scale, touchedRows, touchedCols, template)
% Scores again every anchor with an element inside the touched pooled rectangle. gastrel runs
% on a crop holding all elements of those anchors; the crop's scores equal the full map's.
  p = template.params;
  step = p.poolStep;
  tRowsPooled = floor(template.templateRows / step);
  tColsPooled = floor(template.templateCols / step);
  pooledSize = size(scale.pooled{1});
  firstRow = max(touchedRows(1) - max(template.rowOffsets), 1 - tRowsPooled);
  lastRow = min(touchedRows(2) - min(template.rowOffsets), pooledSize(1));
  firstCol = max(touchedCols(1) - max(template.colOffsets), 1 - tColsPooled);
  lastCol = min(touchedCols(2) - min(template.colOffsets), pooledSize(2));
  if firstRow > lastRow || firstCol > lastCol
    return;
  end
  rowRange = max(1, firstRow + min(template.rowOffsets)): ...
             min(pooledSize(1), lastRow + max(template.rowOffsets));
  colRange = max(1, firstCol + min(template.colOffsets)): ...
             min(pooledSize(2), lastCol + max(template.colOffsets));
  if isempty(rowRange) || isempty(colRange)
    return;
  end
  cropRows = numel(rowRange) * step;
  cropCols = numel(colRange) * step;
  pixelRows = (rowRange(1) - 1) * step + (1:cropRows);
  pixelCols = (colRange(1) - 1) * step + (1:cropCols);
  cropScores = score_placements(crop_cells(scale.pooled, rowRange, colRange), ...
                                {scale.normalizer{1}(pixelRows, pixelCols) * 1}, ...
                                cropRows, cropCols, template);
  % Anchor a of the image is anchor a - rowRange(1) + 1 of the crop; a score map row holds
  % the anchor plus the template's pooled height.
  anchors = firstRow:lastRow;
  anchorCols = firstCol:lastCol;
  previous = scale.scores(anchors + tRowsPooled, anchorCols + tColsPooled);
  fresh = cropScores(anchors - rowRange(1) + 1 + tRowsPooled, ...
                     anchorCols - colRange(1) + 1 + tColsPooled);
  fresh(previous == ruled_out()) = ruled_out();
  scale.scores(anchors + tRowsPooled, anchorCols + tColsPooled) = fresh;
end

function scale = exclude_near(scale, detection, radius, template)
% Rules out the placements whose box centre, in image pixels, lies within radius of the
% detection's centre.
  if radius <= 0
    return;
  end
  step = template.params.poolStep;
  tRowsPooled = floor(template.templateRows / step);
  tColsPooled = floor(template.templateCols / step);
  anchorRows = (1:size(scale.scores, 1))' - tRowsPooled;
  anchorCols = (1:size(scale.scores, 2)) - tColsPooled;
  centreRows = (anchorRows * step + (template.templateRows + 1) / 2 - 0.5) / scale.rowFactor + 0.5;
  centreCols = (anchorCols * step + (template.templateCols + 1) / 2 - 0.5) / scale.colFactor + 0.5;
  near = (centreRows - detection.row).^2 + (centreCols - detection.col).^2 < radius^2;
  scale.scores(near) = ruled_out();
end

function [rowRange, colRange] = pooled_crop(scale, rowSpan, colSpan, margin)
% Pooled rows and columns covering the spans plus a margin, clipped to the pooled map.
  pooledSize = size(scale.pooled{1});
  rowRange = max(1, floor(rowSpan(1)) - margin):min(pooledSize(1), ceil(rowSpan(2)) + margin);
  colRange = max(1, floor(colSpan(1)) - margin):min(pooledSize(2), ceil(colSpan(2)) + margin);
end

function cropped = crop_cells(maps, rowRange, colRange)
% Fresh copies of a rectangle of every map.
  cropped = cell(size(maps));
  for k = 1:numel(maps)
    cropped{k} = maps{k}(rowRange, colRange) * 1;
  end
end
