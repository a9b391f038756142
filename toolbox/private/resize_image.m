function resized = resize_image(image, outRows, outCols)
% RESIZE_IMAGE  Resize a grey image by bilinear interpolation, smoothing first when shrinking.
%
%   resized = resize_image(image, outRows, outCols)
%
%   Pixel centres are mapped so that the image edges line up: output pixel u samples input
%   position (u - 0.5)*rows/outRows + 0.5 (likewise for columns), clamped to the image.
%   When the image shrinks, it is first blurred by a Gaussian of standard deviation
%   0.5*(factor - 1) pixels per axis so that fine texture does not alias. Both steps are
%   linear and separable: each axis is one sparse matrix (interpolation times blur), so the
%   result is two sparse products, several times faster than filtering and interpolating the
%   whole image in turn.
%
%   Arguments:
%     image            grey image, real 2-D array.
%     outRows, outCols size of the result (positive integers).
%   Returns:
%     resized          double array of outRows x outCols.
%
%   Example:
%     small = resize_image(rand(100, 80), 50, 40);

  [rows, cols] = size(image);
  % The products with both resampling matrices, formed by scalum on every core from the
  % matrices' entries (listed by output, sources in increasing order, as find lists them).
  [colSources, colOutputs, colWeights] = find(resampling_matrix(cols, outCols)');
  [rowSources, rowOutputs, rowWeights] = find(resampling_matrix(rows, outRows)');
  resized = zeros(outRows, outCols);
  scalum(rows, cols, outRows, outCols, double(image), accumarray(colOutputs, 1, [outCols, 1]), ...
         colSources, colWeights, accumarray(rowOutputs, 1, [outRows, 1]), rowSources, rowWeights, ...
         resized);
end
