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
%   normalized cells show only noise can be told from a face. The windows are filtered and
%   their amplitudes summed over the cells in one call (cellum), on every core.
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
  amplitudes = window_amplitudes(windows, filters, cellSize, cellsPerSide);
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

function amplitudes = window_amplitudes(windows, filters, cellSize, cellsPerSide)
% The amplitudes (square roots of the filter energies, as filter_responses gives them for
% each window alone) summed over each window's cells (cellum): cells x orientations x
% windows.
  [side, ~, count] = size(windows);
  amplitudes = zeros(cellsPerSide ^ 2, numel(filters), count);
  cellum(side, count, numel(filters), (size(filters{1}, 1) - 1) / 2, windows, ...
         cellfun(@real, filters, 'UniformOutput', false), ...
         cellfun(@imag, filters, 'UniformOutput', false), cellSize, cellsPerSide, amplitudes);
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
