function tables = background_tables(patches, filters, varargin)
% BACKGROUND_TABLES  Lookup tables for learning, from the responses of non-face patches.
%
%   tables = background_tables(patches, filters)
%   tables = background_tables(patches, filters, settings)
%   tables = background_tables(patches, filters, 'name', value, ...)
%
%   Resizes the patches to the template size and normalizes their filter energies as the
%   training faces are normalized, lets cobrint saturate them and tally their density q(r)
%   over the patches' interiors (filterHalf pixels from each edge left out), and turns q
%   into the three tables that learning searches: for each weight lambda of the grid
%   0:lambdaStep:lambdaMax, the mean response of the tilted density q(r)exp(lambda r)/Z,
%   lambda itself and log Z(lambda).
%
%   Arguments:
%     patches   rows x cols x n grey or rows x cols x 3 x n colour background patches, of
%               any numeric class (integer classes are scaled to [0, 1]).
%     filters   filter bank of the settings (filter_bank); a bank of another orientation
%               count or half width is refused with background_tables:filterMismatch.
%     settings  optional struct or name/value pairs (detector_settings): the filter,
%               template, normalizer, saturation, bin and weight-grid settings are used.
%   Returns:
%     tables    struct with row vectors weight, meanResponse and bias, length (their
%               number of entries), density and binWidth, and settings (the learning
%               settings it was made with; learn_template refuses tables of other ones).
%
%   Example:
%     patches = rand(25, 25, 4);
%     tables = background_tables(patches, filter_bank(), 'binCount', 30);
%     printf('%d weights, density integrates to %.3f\n', tables.length, ...
%            sum(tables.density) * tables.binWidth);   % 1001 weights, density integrates to 1.000

  settings = resolve_settings('background_tables', varargin);
  check_filters('background_tables', filters, filters, settings);
  patches = grey_image(patches, 'background_tables', 'patches', true);
  responses = patch_responses(patches, filters, settings);
  [imageCount, orientCount] = size(responses);
  doubleMaps = cell(imageCount, orientCount);
  for k = 1:numel(responses)
    doubleMaps{k} = double(responses{k});
  end
  side = settings.templateSize;
  binWidth = settings.saturationLevel / settings.binCount;
  density = zeros(1, settings.binCount);
  cobrint(imageCount, orientCount, doubleMaps, settings.filterHalf, side, side, binWidth, ...
          settings.binCount, density, settings.saturationLevel);
  tables = lookup_tables(density, binWidth, 0:settings.lambdaStep:settings.lambdaMax);
  tables.density = density;
  tables.binWidth = binWidth;
  tables.settings = learning_settings(settings);
end
