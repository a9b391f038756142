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
%   apart (eyes and mouth darker than cheeks), which energies alone do not.
%
%   Arguments:
%     windows      side x side x n double array (crop_windows).
%     filters      filter bank (filter_bank).
%     cellSize     cell side, pixels; the grid covers floor(side / cellSize) cells a side.
%   Returns:
%     descriptors  n x (cells * (numel(filters) + 1)) double array, a row per window.
%
%   Example:
%     descriptors = window_descriptors(rand(40, 40, 2), filter_bank(), 8);
%     size(descriptors)                               % 2 x 225

  [side, ~, count] = size(windows);
  cellsPerSide = floor(side / cellSize);
  pooling = cell_matrix(side, cellSize, cellsPerSide);
  orientCount = numel(filters);
  cellCount = cellsPerSide ^ 2;
  contrastFloor = 1e-3;         % keeps the logarithms of a flat window finite
  descriptors = zeros(count, 2 * cellCount * (orientCount + 1) + 2);
  for k = 1:count
    window = windows(:, :, k);
    energies = filter_responses(window, filters);
    amplitudes = zeros(cellCount, orientCount);
    for o = 1:orientCount
      amplitudes(:, o) = reshape(pooling * sqrt(double(energies{o})) * pooling', [], 1);
    end
    contrast = [log(mean(amplitudes(:)) + contrastFloor), log(std(window(:)) + contrastFloor)];
    amplitudes = amplitudes / (mean(amplitudes(:)) + eps);
    greys = (window - mean(window(:))) / (std(window(:)) + eps);
    cellGreys = reshape(pooling * greys * pooling', [], 1) / cellSize ^ 2;
    descriptors(k, :) = [amplitudes(:); cellGreys; asymmetry(amplitudes, cellGreys, cellsPerSide); ...
                         contrast(:)]';
  end
end

function pooling = cell_matrix(side, cellSize, cellsPerSide)
% The cellsPerSide x side matrix summing each cell's pixels along one axis; the cells are
% centred in the window, a remainder split evenly between its two edges.
  first = floor((side - cellsPerSide * cellSize) / 2);
  pooling = zeros(cellsPerSide, side);
  for c = 1:cellsPerSide
    pooling(c, first + (c - 1) * cellSize + (1:cellSize)) = 1;
  end
end

function differences = asymmetry(amplitudes, cellGreys, cellsPerSide)
% How far the cells differ from their mirror image (left and right swapped, each orientation
% turned into its mirror orientation): small for a face seen from the front.
  orientCount = columns(amplitudes);
  mirrorOrients = mod(orientCount - (0:orientCount - 1), orientCount) + 1;
  grid = reshape(amplitudes, cellsPerSide, cellsPerSide, orientCount);
  mirrored = flip(grid(:, :, mirrorOrients), 2);
  greys = reshape(cellGreys, cellsPerSide, cellsPerSide);
  differences = [abs(grid(:) - mirrored(:)); abs(greys(:) - reshape(flip(greys, 2), [], 1))];
end
