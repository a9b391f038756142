function resized = resize_image(image, outRows, outCols, taps)
% RESIZE_IMAGE  Resize a grey image by bilinear interpolation, smoothing first when shrinking.
%
%   resized = resize_image(image, outRows, outCols)
%   resized = resize_image(image, outRows, outCols, taps)
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
%     taps             optional: resampling_taps(rows, cols, outRows, outCols) for the
%                      image's size, made once for many images of one size.
%   Returns:
%     resized          double array of outRows x outCols.
%
%   Example:
%     small = resize_image(rand(100, 80), 50, 40);

  [rows, cols] = size(image);
  if nargin < 4
    taps = resampling_taps(rows, cols, outRows, outCols);
  end
  resized = zeros(outRows, outCols);
  scalum(rows, cols, outRows, outCols, double(image), taps.colCounts, taps.colSources, ...
         taps.colWeights, taps.rowCounts, taps.rowSources, taps.rowWeights, resized);
end
