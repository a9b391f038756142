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
  % Dense times sparse products only: Octave forms them several times faster than sparse
  % times dense.
  alongCols = double(image) * axis_matrix(cols, outCols)';
  resized = full((alongCols' * axis_matrix(rows, outRows)')');
end

function matrix = axis_matrix(n, outN)
% The outN x n sparse matrix that blurs (when shrinking) and then interpolates one axis:
% only the blurred values that the interpolation reads are formed.
  factor = n / outN;
  matrix = interpolation_matrix(min(max(((1:outN) - 0.5) * factor + 0.5, 1), n), n);
  sigma = 0.5 * (factor - 1);
  if sigma > 0
    read = find(any(matrix, 1));
    matrix = matrix(:, read) * blur_rows(n, sigma, read);
  end
end

function matrix = blur_rows(n, sigma, rows)
% Rows `rows` of the n x n sparse matrix of a normalized Gaussian blur with the edges
% replicated.
  half = ceil(3 * sigma);
  kernel = exp(-(-half:half).^2 / (2 * sigma^2));
  kernel = kernel / sum(kernel);
  count = numel(rows);
  cols = min(max(rows(:) + (-half:half), 1), n);
  matrix = sparse(repmat((1:count)', 1, 2 * half + 1), cols, repmat(kernel, count, 1), count, n);
end
