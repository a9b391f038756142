function picture = draw_template(template, faces, shown, zoom)
% DRAW_TEMPLATE  A picture of a learned template beside training faces and their sketches.
%
%   picture = draw_template(template, faces, shown, zoom)
%
%   Top row: the template's common sketch, then the first `shown` training faces resized to
%   the template size. Bottom row: each of those faces' own sketch, the template as deformed
%   to fit that face. Every tile is enlarged zoom times, sketches drawn dark on white.
%
%   Arguments:
%     template  learned template (learn_template).
%     faces     rows x cols x n array of the training faces, in the order learned from.
%     shown     number of faces to show.
%     zoom      whole-number enlargement of every tile.
%   Returns:
%     picture   grey double array in [0, 1], for imwrite.
%
%   Example:
%     template = struct('templateRows', 8, 'commonSketch', single(eye(8)), ...
%                       'imageSketches', {{single(eye(8)), single(fliplr(eye(8)))}});
%     picture = draw_template(template, rand(10, 10, 2), 2, 3);
%     disp(size(picture))                          % 66 96: two rows of three zoomed tiles

  side = template.templateRows;
  gap = 2;                                  % blank pixels between tiles, before zooming
  shown = min(shown, size(faces, 3));
  tiles = cell(2, shown + 1);
  tiles{1, 1} = sketch_tile(template.commonSketch);
  tiles{2, 1} = ones(side);
  for k = 1:shown
    face = resize_image(faces(:, :, k), side, side);
    tiles{1, k + 1} = min(max(face, 0), 1);
    tiles{2, k + 1} = sketch_tile(template.imageSketches{k});
  end
  picture = ones(2 * side + 3 * gap, (shown + 1) * (side + gap) + gap);
  for row = 1:2
    for k = 1:shown + 1
      top = gap + (row - 1) * (side + gap);
      left = gap + (k - 1) * (side + gap);
      picture(top + (1:side), left + (1:side)) = tiles{row, k};
    end
  end
  picture = kron(picture, ones(zoom));
end

function tile = sketch_tile(sketch)
% A sketch scaled to [0, 1] and drawn dark on white.
  sketch = double(sketch);
  tile = 1 - sketch / max([sketch(:); eps]);
end
