function resized = resize_image(image, outRows, outCols)
% RESIZE_IMAGE  Resize a grey image by bilinear interpolation, smoothing first when shrinking.
%
%   resized = resize_image(image, outRows, outCols)
%
%   Pixel centres are mapped so that the image edges line up: output pixel u samples input
%   position (u - 0.5)*rows/outRows + 0.5 (likewise for columns), clamped to the image.
%   When the image shrinks, it is first blurred by a Gaussian of standard deviation
%   0.5*(factor - 1) pixels per axis so that fine texture does not alias.
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
  image = double(image);
  rowFactor = rows / outRows;
  colFactor = cols / outCols;
  image = blur_axis(image, 0.5 * (rowFactor - 1), 1);
  image = blur_axis(image, 0.5 * (colFactor - 1), 2);
  rowPos = min(max(((1:outRows)' - 0.5) * rowFactor + 0.5, 1), rows);
  colPos = min(max(((1:outCols) - 0.5) * colFactor + 0.5, 1), cols);
  resized = interp2(image, colPos, rowPos, 'linear');
end

function image = blur_axis(image, sigma, dim)
% Blurs along one axis with a normalized Gaussian (edges replicated); sigma <= 0 does nothing.
  if sigma <= 0
    return;
  end
  half = ceil(3 * sigma);
  kernel = exp(-(-half:half).^2 / (2 * sigma^2));
  kernel = kernel / sum(kernel);
  n = size(image, dim);
  index = min(max((1 - half):(n + half), 1), n);
  if dim == 1
    image = conv2(kernel', 1, image(index, :), 'valid');
  else
    image = conv2(1, kernel, image(:, index), 'valid');
  end
end
