function maps = fresh_maps(sizes, count)
% FRESH_MAPS  A cell array of zero single-precision maps, each with data of its own.
%
%   maps = fresh_maps(sizes, count)
%
%   The plug-ins write into the arrays they are given, and Octave shares the data of
%   copied arrays, so every map that a plug-in writes must be created separately. This
%   makes such a cell array.
%
%   Arguments:
%     sizes  [rows, cols] of every map, or an n x 2 list giving each image's size.
%     count  number of cells per image (for example the number of orientations).
%   Returns:
%     maps   size(sizes, 1) x count cell of zeros(rows, cols, 'single'), one fresh array
%            per cell: maps{image, k}.
%
%   Example:
%     pooled = fresh_maps([32 24], 8);
%     printf('%d cells of %d x %d %s\n', numel(pooled), size(pooled{1}), class(pooled{1}));
%                                             % 8 cells of 32 x 24 single

  imageCount = size(sizes, 1);
  maps = cell(imageCount, count);
  for image = 1:imageCount
    for k = 1:count
      maps{image, k} = zeros(sizes(image, 1), sizes(image, 2), 'single');
    end
  end
end
