function windows = crop_windows(image, boxes, side)
% CROP_WINDOWS  The image under each box, resampled to side x side pixels.
%
%   windows = crop_windows(image, boxes, side)
%
%   A box is [row, col, height, width]: its centre in image pixels (1-based) and its size.
%   The box's pixels are cut out (the image's edge pixels repeated where the box leaves the
%   image) and resized to side x side (resize_image, which smooths before shrinking).
%
%   Arguments:
%     image   grey image, a real 2-D array.
%     boxes   n x 4 array of boxes.
%     side    the windows' side, pixels.
%   Returns:
%     windows side x side x n double array.
%
%   Example:
%     windows = crop_windows(magic(8), [4.5 4.5 4 4], 2);
%     disp(windows)

  [rows, cols] = size(image);
  count = size(boxes, 1);
  windows = zeros(side, side, count);
  pixels = box_pixels(boxes);
  firstRows = pixels(:, 1);
  firstCols = pixels(:, 2);
  rowCounts = pixels(:, 3);
  colCounts = pixels(:, 4);
  % Boxes of one size share their resampling matrix (resize_image's, transposed).
  counts = unique([rowCounts; colCounts]);
  resamplers = cell(max(counts), 1);
  for n = counts'
    resamplers{n} = resampling_matrix(n, side)';
  end
  % Rows and columns beyond the image repeat its edge.
  for k = 1:count
    boxRows = min(max(firstRows(k) + (0:rowCounts(k) - 1), 1), rows);
    boxCols = min(max(firstCols(k) + (0:colCounts(k) - 1), 1), cols);
    % Dense times sparse products only, the fast kind: (B' * Rr)' = Rr' * B.
    alongCols = image(boxRows, boxCols) * resamplers{colCounts(k)};
    windows(:, :, k) = (alongCols' * resamplers{rowCounts(k)})';
  end
end
