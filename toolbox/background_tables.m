function tables = background_tables(patches, filters, params)
% BACKGROUND_TABLES  Lookup tables for learning, from the responses of non-face patches.
%
%   tables = background_tables(patches, filters, params)
%
%   Normalizes the patches' filter energies as the training faces are normalized
%   (patch_responses), lets cobrint saturate them and tally their density q(r) over the
%   patches' interiors (filterHalf pixels from each edge left out), and turns q into the
%   three tables that quillon searches (lookup_tables).
%
%   Arguments:
%     patches  rows x cols x n array of background patches.
%     filters  filter bank (filter_bank).
%     params   struct with saturationLevel, binCount (bins over [0, saturationLevel)),
%              lambdaStep and lambdaMax (the weight grid 0:lambdaStep:lambdaMax), and the
%              fields patch_responses needs.
%   Returns:
%     tables   struct of lookup_tables, with the density and binWidth added.
%
%   Example:
%     tables = background_tables(patches, filter_bank(), params);
%     plot(tables.weight, tables.meanResponse);

  responses = patch_responses(patches, filters, params);
  [imageCount, orientCount] = size(responses);
  doubleMaps = cell(imageCount, orientCount);
  for k = 1:numel(responses)
    doubleMaps{k} = double(responses{k});
  end
  side = params.templateSize;
  binWidth = params.saturationLevel / params.binCount;
  density = zeros(1, params.binCount);
  cobrint(imageCount, orientCount, doubleMaps, params.filterHalf, side, side, binWidth, ...
          params.binCount, density, params.saturationLevel);
  tables = lookup_tables(density, binWidth, 0:params.lambdaStep:params.lambdaMax);
  tables.density = density;
  tables.binWidth = binWidth;
end
