function template = learn_template(faces, filters, stamps, tables, params)
% LEARN_TEMPLATE  Learn a template of oriented elements shared by a set of training faces.
%
%   template = learn_template(faces, filters, stamps, tables, params)
%
%   The faces are resized to the template size, filtered and normalized (patch_responses),
%   saturated in place (fennock), pooled over small shifts of position and orientation
%   (vindral), and handed to quillon, which chooses elementCount elements one at a time,
%   printing one line per element, and inhibits each chosen element's neighbourhood in
%   every training image (overlap_table) so that the next element explains something new.
%
%   Arguments:
%     faces    rows x cols x n array of aligned grey faces.
%     filters  filter bank and its drawing stamps (filter_bank); their half width must be
%     stamps   params.filterHalf.
%     tables   lookup tables (background_tables).
%     params   struct: orientCount, filterHalf, templateSize, poolStep, posShiftMax,
%              orientShiftMax, saturationLevel, elementCount, overlapThreshold, and the
%              normalizer fields of normalizer_maps.
%   Returns:
%     template struct with fields
%       elementCount, orients (0-based), rowOffsets, colOffsets (pooled units from the
%       anchor), weights, biases          the elements, as gastrel and tarrowveto take them
%       templateRows, templateCols       size in pixels
%       commonSketch                     the elements drawn at their own places
%       imageSketches, imageScores       each training image's deformed sketch and score
%       params                           the parameters it was learned with
%
%   Example:
%     [filters, stamps] = filter_bank(8, 5, 5);
%     tables = background_tables(nonFaces, filters, params);
%     template = learn_template(faces, filters, stamps, tables, params);

  responses = patch_responses(faces, filters, params);
  [imageCount, orientCount] = size(responses);
  side = params.templateSize;
  step = params.poolStep;
  fennock(imageCount, side * ones(1, imageCount), side * ones(1, imageCount), orientCount, ...
          params.saturationLevel, responses);
  pooledSide = floor(side / step);
  pooled = fresh_maps([pooledSide, pooledSide], imageCount * orientCount);
  traces = fresh_maps([pooledSide, pooledSide], imageCount * orientCount);
  pooled = reshape(pooled, imageCount, orientCount);
  traces = reshape(traces, imageCount, orientCount);
  vindral(imageCount, side * ones(1, imageCount), side * ones(1, imageCount), orientCount, ...
          params.posShiftMax, params.orientShiftMax, step, responses, pooled, traces);

  count = params.elementCount;
  orients = zeros(1, count); rowOffsets = zeros(1, count); colOffsets = zeros(1, count);
  weights = zeros(1, count); biases = zeros(1, count);
  imageScores = zeros(1, imageCount);
  commonSketch = zeros(side, side, 'single');
  imageSketches = fresh_maps([side, side], imageCount);
  quillon(orientCount, params.posShiftMax, params.orientShiftMax, 0, step, count, imageCount, ...
          side, side, responses, pooled, traces, params.filterHalf, ...
          overlap_table(filters, params.overlapThreshold), stamps, tables.length, ...
          tables.weight, tables.meanResponse, tables.bias, orients, rowOffsets, colOffsets, ...
          weights, biases, imageScores, commonSketch, imageSketches);

  template = struct('elementCount', count, 'orients', orients, 'rowOffsets', rowOffsets, ...
                    'colOffsets', colOffsets, 'weights', weights, 'biases', biases, ...
                    'templateRows', side, 'templateCols', side, ...
                    'commonSketch', commonSketch, 'imageScores', imageScores, 'params', params);
  template.imageSketches = imageSketches;
end
