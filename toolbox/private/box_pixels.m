function pixels = box_pixels(boxes)
% The pixels a box [row, col, height, width] covers: n x 4 [firstRow, firstCol, rowCount,
% colCount] for n boxes, the counts rounded (at least 1) and the box centred on its centre.
% Two boxes with the same pixels give the same window (crop_windows).
  rowCounts = max(1, round(boxes(:, 3)));
  colCounts = max(1, round(boxes(:, 4)));
  pixels = [round(boxes(:, 1) - rowCounts / 2 + 0.5), round(boxes(:, 2) - colCounts / 2 + 0.5), ...
            rowCounts, colCounts];
end
