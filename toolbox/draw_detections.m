function picture = draw_detections(image, detections, referenceBoxes)
% DRAW_DETECTIONS  An RGB picture of the image with detections and reference boxes.
%
%   picture = draw_detections(image, detections)
%   picture = draw_detections(image, detections, referenceBoxes)
%
%   The image is shown in grey, slightly dimmed; each detection's deformed template is drawn
%   over it in red with its box in yellow, and the reference boxes, when given, in cyan.
%
%   Arguments:
%     image           grey image with values in [0, 1].
%     detections      struct array of detect_faces (fields row, col, height, width, sketch,
%                     boxTop, boxLeft).
%     referenceBoxes  optional n x 4 [top, left, height, width] boxes (read_reference_boxes).
%   Returns:
%     picture         rows x cols x 3 double array in [0, 1], for imwrite.
%
%   Example:
%     imwrite(draw_detections(scene, detections, boxes), 'detections.png');

  dimming = 0.75;                  % brightness of the image under the drawings
  sketchColour = [1 0.1 0.1];
  detectionColour = [1 0.9 0];
  referenceColour = [0 0.9 1];
  [rows, cols] = size(image);
  grey = min(max(double(image), 0), 1) * dimming;
  sketch = zeros(rows, cols);
  for d = 1:numel(detections)
    sketch = paste_max(sketch, double(detections(d).sketch), detections(d).boxTop, ...
                       detections(d).boxLeft);
  end
  alpha = min(sketch / max([sketch(:); eps]), 1);
  picture = zeros(rows, cols, 3);
  for c = 1:3
    picture(:, :, c) = grey .* (1 - alpha) + sketchColour(c) * alpha;
  end
  if nargin >= 3
    for b = 1:size(referenceBoxes, 1)
      picture = draw_box(picture, referenceBoxes(b, :), referenceColour);
    end
  end
  for d = 1:numel(detections)
    box = [round(detections(d).row - detections(d).height / 2), ...
           round(detections(d).col - detections(d).width / 2), ...
           round(detections(d).height), round(detections(d).width)];
    picture = draw_box(picture, box, detectionColour);
  end
end

function picture = draw_box(picture, box, colour)
% Draws the outline of a [top, left, height, width] box, clipped to the picture.
  [rows, cols, ~] = size(picture);
  top = box(1); left = box(2);
  bottom = top + box(3) - 1; right = left + box(4) - 1;
  rowSpan = max(top, 1):min(bottom, rows);
  colSpan = max(left, 1):min(right, cols);
  horizontal = [top, bottom];
  horizontal = horizontal(horizontal >= 1 & horizontal <= rows);
  vertical = [left, right];
  vertical = vertical(vertical >= 1 & vertical <= cols);
  for c = 1:3
    picture(horizontal, colSpan, c) = colour(c);
    picture(rowSpan, vertical, c) = colour(c);
  end
end
