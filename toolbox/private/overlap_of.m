function [canvasRows, canvasCols, pictureRows, pictureCols] = overlap_of(canvasSize, pictureSize, top, left)
% OVERLAP_OF  The rows and columns of a canvas that a picture placed with its pixel (1, 1)
% at (top, left) covers, and the picture's rows and columns that land there (parts outside
% the canvas left out). Callers paste with one indexed assignment in their own scope, so
% that the canvas is not copied.
  rowsAt = top + (0:pictureSize(1) - 1);
  colsAt = left + (0:pictureSize(2) - 1);
  pictureRows = find(rowsAt >= 1 & rowsAt <= canvasSize(1));
  pictureCols = find(colsAt >= 1 & colsAt <= canvasSize(2));
  canvasRows = rowsAt(pictureRows);
  canvasCols = colsAt(pictureCols);
end
