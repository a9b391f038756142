function [scales, report] = plan_scales(rows, cols, templateRows, templateCols, params, settings)
% PLAN_SCALES  The scales of a search: one per face size that fits a rows x cols image,
% each with its resized size, or the refusal of a search that no size fits
% (detect_faces:imageTooSmall) or that would cost too much (detect_faces:tooCostly).
%
%   scales holds, per usable size, sizeIndex (its index in settings.faceSizes, or in the
%   automatic sizes when faceSizes is empty), faceSize, rows and cols; report holds faceSizes (those
%   searched), skippedSizes (too large for the image, or left out of an automatic search to
%   stay within memoryLimit) and an empty stopReason. params are the template's learning
%   settings (orientCount and poolStep size the maps), settings the detection settings.
  sizes = settings.faceSizes;
  leftOut = [];
  if isempty(sizes)
    [sizes, leftOut] = automatic_sizes(rows, cols, templateRows, params, settings);
  end
  factors = templateRows ./ sizes;
  scaledRows = max(1, round(rows * factors));
  scaledCols = max(1, round(cols * factors));
  fits = scaledRows >= templateRows & scaledCols >= templateCols;
  report = struct('faceSizes', sizes(fits), 'skippedSizes', [leftOut, sizes(~fits)], ...
                  'stopReason', '');
  if ~any(fits)
    error('detect_faces:imageTooSmall', ['detect_faces: the %d x %d image holds no face of ' ...
          'the sizes searched (%s px): a face can be at most about the image''s shorter side, ' ...
          '%d px'], rows, cols, size_list(sizes), min(rows, cols));
  end
  for skipped = sizes(~fits)
    say(settings.verbose, 'detect_faces: faces of %.0f px skipped: larger than the %d x %d image\n', ...
        skipped, rows, cols);
  end
  check_cost(rows, cols, templateRows, params, settings, factors(fits), scaledRows(fits), scaledCols(fits));
  used = find(fits);
  scales = cell(1, numel(used));
  for k = 1:numel(used)
    scales{k} = struct('sizeIndex', used(k), 'faceSize', sizes(used(k)), 'rows', scaledRows(used(k)), ...
                       'cols', scaledCols(used(k)));
  end
end

function [sizes, leftOut] = automatic_sizes(rows, cols, templateRows, params, settings)
% Every face size from smallestFace up to the image's shorter side, sizeStep apart
% (smallestFace alone when the image is smaller), without the smallest ones whose maps would
% take the search beyond memoryLimit (leftOut; the largest size is always kept).
  count = floor(log(min(rows, cols) / settings.smallestFace) / log(settings.sizeStep) + ...
                sqrt(eps)) + 1;
  sizes = settings.smallestFace * settings.sizeStep .^ (0:max(count, 1) - 1);
  factors = templateRows ./ sizes;
  pixels = max(1, round(rows * factors)) .* max(1, round(cols * factors));
  [held, filtering] = bytes_per_pixel(params);
  bytesPerGB = 1e9;
  % Searching sizes k ... end holds the maps of all of them and filters the largest image,
  % size k's.
  needed = (fliplr(cumsum(fliplr(pixels))) * held + pixels * filtering) / bytesPerGB;
  first = find(needed <= settings.memoryLimit, 1);
  if isempty(first)
    first = numel(sizes);
  end
  if first > 1
    say(settings.verbose, ['detect_faces: faces under %.0f px not searched: their maps would ' ...
        'take the search beyond memoryLimit %g GB\n'], sizes(first), settings.memoryLimit);
  end
  leftOut = sizes(1:first - 1);
  sizes = sizes(first:end);
end

function [held, filtering] = bytes_per_pixel(params)
% Bytes per pixel of a scale. Held for every scale at once: responses, pooled and trace
% maps, normalizer and score maps, all single precision; while a scale is
% filtered, the resized image in double precision and filtrum's padded single-precision
% copy of it too.
  step = params.poolStep;
  held = 4 * (params.orientCount * (1 + 2 / step^2) + 2);
  filtering = 8 + 4;
end

function check_cost(rows, cols, templateRows, params, settings, factors, scaledRows, scaledCols)
% Refuses a search that would enlarge the image beyond maxEnlargement, or whose maps would
% take more than memoryLimit GB.
  bytesPerGB = 1e9;
  [heldBytesPerPixel, filteringBytesPerPixel] = bytes_per_pixel(params);
  if max(factors) > settings.maxEnlargement
    error('detect_faces:tooCostly', ['detect_faces: faces of %.3g px would enlarge the %d x %d ' ...
          'image %.1f times (the template is %d px high), beyond maxEnlargement %g: search ' ...
          'faces of at least %.3g px, or raise maxEnlargement'], ...
          templateRows / max(factors), rows, cols, max(factors), ...
          templateRows, settings.maxEnlargement, ...
          templateRows / settings.maxEnlargement);
  end
  pixels = scaledRows .* scaledCols;
  needed = (sum(pixels) * heldBytesPerPixel + max(pixels) * filteringBytesPerPixel) / bytesPerGB;
  if needed > settings.memoryLimit
    [~, largest] = max(pixels);
    error('detect_faces:tooCostly', ['detect_faces: the search would need about %.1f GB of ' ...
          'maps (%d scales, the largest %d x %d), beyond memoryLimit %g GB: search fewer or ' ...
          'larger face sizes or a smaller image, or raise memoryLimit'], needed, numel(pixels), ...
          scaledRows(largest), scaledCols(largest), settings.memoryLimit);
  end
end

function text = size_list(sizes)
% "36 to 63" for several sizes, "50" for one.
  if numel(sizes) == 1
    text = sprintf('%.4g', sizes);
  else
    text = sprintf('%.4g to %.4g', min(sizes), max(sizes));
  end
end
