function maps = normalizer_maps(responses, params, maps)
% NORMALIZER_MAPS  Each image's map of local mean responses over a window and all orientations.
%
%   maps = normalizer_maps(responses, params)
%   maps = normalizer_maps(responses, params, maps)
%
%   Calls brelind on imageCount x orientCount response maps of possibly different sizes.
%   The window mean at a pixel is the divisor by which the pipeline normalizes a template
%   placed with its centre there: the scoring plug-ins read it at the template's centre,
%   and the learning side divides each training image by its value at the same place.
%
%   Arguments:
%     responses  imageCount x orientCount cell of single maps (as filter_responses makes).
%     params     struct with fields filterHalf (the edge margin that no window covers),
%                normalizerHalf (half width of the square window) and relativeFloor
%                (floor of the means, relative to the image's largest mean).
%     maps       optional: 1 x imageCount cell of single maps of the images' sizes, each with
%                data of its own (as fresh_maps makes them), written whole instead of fresh
%                ones.
%   Returns:
%     maps       1 x imageCount cell of single maps, one per image.
%
%   Example:
%     params = struct('filterHalf', 5, 'normalizerHalf', 10, 'relativeFloor', 0.1);
%     maps = normalizer_maps(filter_responses(rand(64), filter_bank()), params);

  [imageCount, orientCount] = size(responses);
  sizes = cell2mat(cellfun(@size, responses(:, 1), 'UniformOutput', false));
  if nargin < 3
    maps = fresh_maps(sizes, 1)';
  end
  brelind(imageCount, sizes(:, 1)', sizes(:, 2)', orientCount, params.filterHalf, responses, ...
          maps, params.normalizerHalf, params.normalizerHalf, 0, params.relativeFloor);
end
