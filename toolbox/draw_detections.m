function picture = draw_detections(image, detections, referenceBoxes)
% DRAW_DETECTIONS  An RGB picture of the image with detections and reference boxes.
%
%   picture = draw_detections(image, detections)
%   picture = draw_detections(image, detections, referenceBoxes)
%
%   The image is shown in grey, slightly dimmed; each detection's deformed template is drawn
%   over it in red with its box in yellow and its rank (1 for the first found, the order of
%   detect_faces' result and of detections.csv) in yellow digits on black above the box's
%   top-left corner, and the reference boxes, when given, in cyan.
%
%   Arguments:
%     image           grey or colour image (converted as detect_faces converts it) with
%                     values in [0, 1].
%     detections      struct array of detect_faces (fields row, col, height, width, sketch,
%                     boxTop, boxLeft).
%     referenceBoxes  optional n x 4 [top, left, height, width] boxes (read_reference_boxes).
%   Returns:
%     picture         rows x cols x 3 double array in [0, 1], for imwrite.
%
%   Example:
%     detection = struct('row', 20.5, 'col', 30.5, 'height', 16, 'width', 16, ...
%                        'sketch', zeros(16, 'single'), 'boxTop', 13, 'boxLeft', 23);
%     picture = draw_detections(0.5 * ones(40, 60), detection);
%     printf('%d x %d x %d, box corner %s\n', size(picture), mat2str(squeeze(picture(13, 23, :))'));

  dimming = 0.75;                  % brightness of the image under the drawings
  sketchColour = [1 0.1 0.1];
  detectionColour = [1 0.9 0];
  referenceColour = [0 0.9 1];
  image = grey_image(image, 'draw_detections', 'the image');
  [rows, cols] = size(image);
  grey = min(max(image, 0), 1) * dimming;
  % Every picture is drawn into with one assignment per colour channel: a subfunction that
  % changed the picture would copy it whole for each box.
  sketch = zeros(rows, cols);
  for d = 1:numel(detections)
    [canvasRows, canvasCols, pictureRows, pictureCols] = ...
        overlap_of(size(sketch), size(detections(d).sketch), detections(d).boxTop, ...
                   detections(d).boxLeft);
    sketch(canvasRows, canvasCols) = max(sketch(canvasRows, canvasCols), ...
                                         double(detections(d).sketch(pictureRows, pictureCols)));
  end
  alpha = min(sketch / max([sketch(:); eps]), 1);
  picture = zeros(rows, cols, 3);
  for c = 1:3
    picture(:, :, c) = grey .* (1 - alpha) + sketchColour(c) * alpha;
  end
  pixels = zeros(0, 1);
  values = zeros(0, 3);
  if nargin >= 3
    for b = 1:size(referenceBoxes, 1)
      outline = box_outline([rows, cols], referenceBoxes(b, :));
      pixels = [pixels; outline];
      values = [values; repmat(referenceColour, numel(outline), 1)];
    end
  end
  for d = 1:numel(detections)
    box = [round(detections(d).row - detections(d).height / 2), ...
           round(detections(d).col - detections(d).width / 2), ...
           round(detections(d).height), round(detections(d).width)];
    outline = box_outline([rows, cols], box);
    [labelPixels, lit] = rank_label([rows, cols], d, box);
    pixels = [pixels; outline; labelPixels];
    values = [values; repmat(detectionColour, numel(outline), 1); lit * detectionColour];
  end
  % Where drawings overlap, the later one (the later detection) is the one that shows.
  for c = 1:3
    picture(pixels + (c - 1) * rows * cols) = values(:, c);
  end
end

function pixels = box_outline(pictureSize, box)
% The linear indices of the outline of a [top, left, height, width] box, clipped to the
% picture.
  top = box(1); left = box(2);
  bottom = top + box(3) - 1; right = left + box(4) - 1;
  rowSpan = max(top, 1):min(bottom, pictureSize(1));
  colSpan = max(left, 1):min(right, pictureSize(2));
  horizontal = [top, bottom];
  horizontal = horizontal(horizontal >= 1 & horizontal <= pictureSize(1));
  vertical = [left, right];
  vertical = vertical(vertical >= 1 & vertical <= pictureSize(2));
  [hRows, hCols] = ndgrid(horizontal, colSpan);
  [vRows, vCols] = ndgrid(rowSpan, vertical);
  pixels = sub2ind(pictureSize, [hRows(:); vRows(:)], [hCols(:); vCols(:)]);
end

function [pixels, lit] = rank_label(pictureSize, rank, box)
% The pixels of the rank written in a small bitmap font just above the box's top-left
% corner (inside the box where the picture's top edge leaves no room), and for each whether
% it is lit (drawn in the box's colour) or background (black).
  boxPixelsPerGlyphPixel = 24;             % glyph pixels grow with the box, two at least
  zoom = max(2, round(box(3) / boxPixelsPerGlyphPixel));
  label = kron(rank_bitmap(rank), ones(zoom));
  top = box(1) - size(label, 1);
  if top < 1
    top = box(1) + 1;
  end
  [labelRows, labelCols, keptRows, keptCols] = overlap_of(pictureSize, size(label), top, box(2));
  [r, c] = ndgrid(labelRows, labelCols);
  pixels = sub2ind(pictureSize, r(:), c(:));
  lit = reshape(label(keptRows, keptCols), [], 1);
end

function bitmap = rank_bitmap(rank)
% The digits of rank, 3 x 5 glyphs one pixel apart inside a one-pixel border: 1 where a
% digit is drawn, 0 for the background.
  glyphs = {'111101101101111', '010110010010111', '111001111100111', '111001111001111', ...
            '101101111001001', '111100111001111', '111100111101111', '111001001001001', ...
            '111101111101111', '111101111001111'};
  digits = sprintf('%d', rank) - '0';
  bitmap = zeros(7, 4 * numel(digits) + 1);
  for k = 1:numel(digits)
    glyph = reshape(glyphs{digits(k) + 1} - '0', 3, 5)';
    bitmap(2:6, 4 * k - 2 + (0:2)) = glyph;
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
