function boxes = read_reference_boxes(file)
% READ_REFERENCE_BOXES  Read face boxes given as four (row col) corners each.
%
%   boxes = read_reference_boxes(file)
%
%   The file holds, per box, a name line (for example detection_3) followed by four lines
%   "row col", the corners of the box counted from 0. Lines that are not two numbers start
%   a new box.
%
%   Arguments:
%     file   name of the text file.
%   Returns:
%     boxes  n x 4 [top, left, height, width] in 1-based pixels, in the file's order.
%
%   Example:
%     boxes = read_reference_boxes('data/ground_truth_detection.txt');
%     centres = boxes(:, 1:2) + (boxes(:, 3:4) - 1) / 2;
%     printf('%d boxes, the second centred at row %.1f\n', size(boxes, 1), centres(2, 1));

  text = fileread(file);
  lines = regexp(text, '\r?\n', 'split');
  boxes = zeros(0, 4);
  corners = zeros(0, 2);
  for k = 1:numel(lines) + 1
    if k <= numel(lines)
      values = sscanf(lines{k}, '%f')';
    else
      values = [];
    end
    if numel(values) == 2
      corners(end + 1, :) = values;
    elseif ~isempty(corners)
      low = min(corners, [], 1) + 1;
      high = max(corners, [], 1) + 1;
      boxes(end + 1, :) = [low, high - low + 1];
      corners = zeros(0, 2);
    end
  end
end
