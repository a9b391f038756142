function canvas = paste_max(canvas, picture, top, left)
% PASTE_MAX  Keep, pixel by pixel, the larger of a canvas and a picture placed on it.
%
%   canvas = paste_max(canvas, picture, top, left)
%
%   picture's pixel (1, 1) lands on canvas pixel (top, left); the parts of the picture that
%   fall outside the canvas are left out, and every covered canvas pixel becomes the larger
%   of itself and the picture's pixel. Used to gather detections' sketches on one canvas.
%
%   Example:
%     canvas = paste_max(zeros(4), ones(3) * 2, 3, 3);   % 2 in canvas(3:4, 3:4)
  rows = top + (0:size(picture, 1) - 1);
  cols = left + (0:size(picture, 2) - 1);
  keepRows = rows >= 1 & rows <= size(canvas, 1);
  keepCols = cols >= 1 & cols <= size(canvas, 2);
  canvas(rows(keepRows), cols(keepCols)) = max(canvas(rows(keepRows), cols(keepCols)), ...
                                               picture(keepRows, keepCols));
end
