function descriptors = window_descriptors(windows, filters, cellSize)
% WINDOW_DESCRIPTORS  Contrast-normalized orientation and grey-level cells of square windows.
%
%   descriptors = window_descriptors(windows, filters, cellSize)
%
%   Each window is filtered with the bank (filter_responses); the square roots of the
%   energies (amplitudes, which grow linearly with contrast) are summed over a grid of
%   cellSize-pixel cells per orientation and divided by the window's mean amplitude, so
%   that a dim face and a bright one give the same cells. The grey levels, standardized
%   over the window, are averaged over the same cells: they tell light and dark regions
%   apart (eyes and mouth darker than cheeks), which energies alone do not. Then how far
%   both kinds of cells differ from their mirror image (a face seen from the front is
%   nearly symmetric; clutter mostly is not), and the window's contrast: the logarithms of
%   its mean amplitude and of its grey levels' spread, so that a flat, dark window whose
%   normalized cells show only noise can be told from a face. All windows are filtered in
%   one pass over a mosaic of them (each tile padded with its own edges, so the energies
%   equal those of each window filtered alone).
%
%   Arguments:
%     windows      side x side x n double array (crop_windows).
%     filters      filter bank (filter_bank).
%     cellSize     cell side, pixels; the grid covers floor(side / cellSize) cells a side.
%   Returns:
%     descriptors  n x (2 * cells * (numel(filters) + 1) + 2) double array, a row per
%                  window: the amplitude cells, the grey cells, the mirror differences of
%                  both, and the two contrasts.
%
%   Example:
%     descriptors = window_descriptors(rand(40, 40, 2), filter_bank(), 8);
%     size(descriptors)                               % 2 x 452

  [side, ~, count] = size(windows);
  cellsPerSide = floor(side / cellSize);
  orientCount = numel(filters);
  cellCount = cellsPerSide ^ 2;
  contrastFloor = 1e-3;         % keeps the logarithms of a flat window finite
  amplitudes = mosaic_amplitudes(windows, filters, cellSize, cellsPerSide);
  meanAmplitudes = reshape(mean(reshape(amplitudes, [], count), 1), 1, 1, count);
  spreads = reshape(std(reshape(windows, [], count), 0, 1), 1, 1, count);
  contrast = log([meanAmplitudes(:), spreads(:)] + contrastFloor);
  amplitudes = amplitudes ./ (meanAmplitudes + eps);
  greys = (windows - mean(mean(windows, 1), 2)) ./ (spreads + eps);
  cellGreys = reshape(cell_sums(greys, cellSize, cellsPerSide), cellCount, count) / cellSize ^ 2;
  descriptors = [reshape(amplitudes, [], count); cellGreys; ...
                 asymmetry(amplitudes, cellGreys, cellsPerSide)]';
  descriptors = [descriptors, contrast];
end

function amplitudes = mosaic_amplitudes(windows, filters, cellSize, cellsPerSide)
% The amplitudes (square roots of the filter energies, as filter_responses gives them for
% each window alone) summed over each window's cells: cells x orientations x windows. One
% filtering call covers a mosaic of the windows, each padded by repeating its own edges for
% half a filter's width, so that no filter reaching from one tile sees its neighbour; the
% cells are summed on the mosaic itself, tile by tile, in the order cell_sums sums them.
  [side, ~, count] = size(windows);
  half = (size(filters{1}, 1) - 1) / 2;
  tile = side + 2 * half;
  padding = [ones(1, half), 1:side, side * ones(1, half)];
  gridRows = ceil(sqrt(count));
  gridCols = ceil(count / gridRows);
  tiles = zeros(tile, tile, gridRows * gridCols);
  tiles(:, :, 1:count) = windows(padding, padding, :);
  mosaic = reshape(permute(reshape(tiles, tile, tile, gridRows, gridCols), [1 3 2 4]), ...
                   tile * gridRows, tile * gridCols);
  responses = filter_responses(mosaic, filters);
  % The mosaic rows (and columns) of every tile's cells, tile after tile.
  span = half + floor((side - cellsPerSide * cellSize) / 2) + (1:cellsPerSide * cellSize);
  cellRows = reshape(span' + tile * (0:gridRows - 1), 1, []);
  cellCols = reshape(span' + tile * (0:gridCols - 1), 1, []);
  amplitudes = zeros(cellsPerSide ^ 2, numel(responses), count);
  for o = 1:numel(responses)
    blocks = reshape(sqrt(double(responses{o}(cellRows, cellCols))), cellSize, cellsPerSide, ...
                     gridRows, cellSize, cellsPerSide, gridCols);
    sums = reshape(permute(sum(sum(blocks, 1), 4), [2 5 3 6 1 4]), cellsPerSide ^ 2, []);
    amplitudes(:, o, :) = reshape(sums(:, 1:count), [], 1, count);
  end
end

function sums = cell_sums(maps, cellSize, cellsPerSide)
% The sums of each map (side x side x n) over a grid of cells centred in it, a remainder
% split evenly between its two edges: cellsPerSide x cellsPerSide x n.
  [side, ~, count] = size(maps);
  span = floor((side - cellsPerSide * cellSize) / 2) + (1:cellsPerSide * cellSize);
  blocks = reshape(maps(span, span, :), cellSize, cellsPerSide, cellSize, cellsPerSide, count);
  sums = reshape(sum(sum(blocks, 1), 3), cellsPerSide, cellsPerSide, count);
end

function differences = asymmetry(amplitudes, cellGreys, cellsPerSide)
% How far the cells differ from their mirror image (left and right swapped, each orientation
% turned into its mirror orientation): small for a face seen from the front.
  [~, orientCount, count] = size(amplitudes);
  mirrorOrients = mod(orientCount - (0:orientCount - 1), orientCount) + 1;
  grid = reshape(amplitudes, cellsPerSide, cellsPerSide, orientCount, count);
  mirrored = flip(grid(:, :, mirrorOrients, :), 2);
  greys = reshape(cellGreys, cellsPerSide, cellsPerSide, count);
  differences = [reshape(abs(grid - mirrored), [], count); ...
                 reshape(abs(greys - flip(greys, 2)), [], count)];
end
