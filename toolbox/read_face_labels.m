function photos = read_face_labels(file)
% READ_FACE_LABELS  Read faces labelled by hand: each photo's face centres and heights.
%
%   photos = read_face_labels(file)
%
%   Reads one of two forms of labels:
%   - text: one face a line, "photo row col height": the photo's file name, the face's
%     centre (pixels counted from 1) and its height in pixels; '#' starts a comment, and
%     blank lines are skipped. A photo's faces may be on any lines.
%   - XML (a file name ending in .xml): <image file='photo'> elements, each holding
%     <box top='t' left='l' width='w' height='h'/> elements in pixels counted from 0. Each
%     box is a face centred in the box, as high as the box. An image without boxes is a
%     photo without faces.
%   A line or box that cannot be read is refused with read_face_labels:badLabel, naming the
%   file and the line; a file that cannot be read with read_face_labels:cannotRead.
%
%   Arguments:
%     file    name of the labels file.
%   Returns:
%     photos  struct array, one per photo in the order first named, with fields photo (the
%             file name as written), centres (n x 2 [row, col]) and heights (n x 1).
%
%   Example:
%     file = [tempname() '.txt'];
%     fid = fopen(file, 'w');
%     fprintf(fid, '# photo row col height\ngroup.png 40 60 30\ngroup.png 45 120 28\n');
%     fclose(fid);
%     photos = read_face_labels(file);
%     printf('%s: %d faces, the first at row %g, col %g\n', photos(1).photo, ...
%            numel(photos(1).heights), photos(1).centres(1, :));   % group.png: 2 faces, ...
%     delete(file);

  [text, reason] = read_text(file);
  if isempty(text) && ~isempty(reason)
    error('read_face_labels:cannotRead', 'read_face_labels: cannot read %s: %s', file, reason);
  end
  if numel(file) >= 4 && strcmpi(file(end - 3:end), '.xml')
    photos = photos_of_boxes(text, file);
  else
    photos = photos_of_lines(text, file);
  end
end

function [text, reason] = read_text(file)
% The file's text, or empty text and the reason it cannot be read.
  text = '';
  [fid, reason] = fopen(file, 'r');
  if fid < 0
    return;
  end
  text = fread(fid, Inf, '*char')';
  fclose(fid);
  reason = '';
end

function photos = photos_of_lines(text, file)
% Faces from lines "photo row col height", comments after '#'.
  photos = no_photos();
  lines = regexp(text, '\r?\n', 'split');
  for k = 1:numel(lines)
    line = strtrim(regexprep(lines{k}, '#.*$', ''));
    if isempty(line)
      continue;
    end
    words = strsplit(line);
    values = str2double(words(2:end));
    if numel(words) ~= 4 || any(~isfinite(values)) || values(3) <= 0
      error('read_face_labels:badLabel', ['read_face_labels: %s, line %d: expected ' ...
            '"photo row col height" with a height above 0; got "%s"'], file, k, line);
    end
    photos = add_face(photos, words{1}, values(1:2), values(3));
  end
end

function photos = photos_of_boxes(text, file)
% Faces from <image file='...'> elements holding <box top left width height/> elements: the
% boxes between an image's tag and the next image's belong to it.
  photos = no_photos();
  [tags, starts, ends] = regexp(text, '<image\s[^>]*>', 'match', 'start', 'end');
  bodyEnds = [starts(2:end) - 1, numel(text)];
  for k = 1:numel(tags)
    name = regexp(tags{k}, '\sfile=[''"]([^''"]+)[''"]', 'tokens', 'once');
    if isempty(name)
      error('read_face_labels:badLabel', 'read_face_labels: %s, line %d: an image without a file: %s', ...
            file, line_of(text, starts(k)), tags{k});
    end
    photos = add_photo(photos, name{1});
    if tags{k}(end - 1) == '/'
      continue;
    end
    [boxes, boxStarts] = regexp(text(ends(k) + 1:bodyEnds(k)), '<box\s[^>]*>', 'match', 'start');
    for b = 1:numel(boxes)
      box = box_values(boxes{b});
      if any(~isfinite(box)) || any(box(3:4) <= 0)
        error('read_face_labels:badLabel', ['read_face_labels: %s, line %d: expected a box ' ...
              'with numbers top, left, width and height, the last two above 0; got %s'], ...
              file, line_of(text, ends(k) + boxStarts(b)), boxes{b});
      end
      centre = box(1:2) + 1 + (box([4 3]) - 1) / 2;
      photos = add_face(photos, name{1}, centre, box(4));
    end
  end
end

function box = box_values(element)
% [top, left, width, height] of a <box .../> element; NaN for a missing attribute.
  names = {'top', 'left', 'width', 'height'};
  box = NaN(1, 4);
  for k = 1:numel(names)
    value = regexp(element, ['\s' names{k} '=[''"]([^''"]*)[''"]'], 'tokens', 'once');
    if ~isempty(value)
      box(k) = str2double(value{1});
    end
  end
end

function line = line_of(text, position)
% The line number of a character position.
  line = 1 + sum(text(1:position - 1) == "\n");
end

function photos = no_photos()
% An empty photo list.
  photos = struct('photo', {}, 'centres', {}, 'heights', {});
end

function [photos, k] = add_photo(photos, name)
% Adds a photo without faces when it is not in the list yet; k is its place in the list.
  k = find(strcmp({photos.photo}, name), 1);
  if isempty(k)
    photos(end + 1) = struct('photo', name, 'centres', zeros(0, 2), 'heights', zeros(0, 1));
    k = numel(photos);
  end
end

function photos = add_face(photos, name, centre, height)
% Appends a face to its photo, adding the photo when it is new.
  [photos, k] = add_photo(photos, name);
  photos(k).centres(end + 1, :) = centre;
  photos(k).heights(end + 1, 1) = height;
end
