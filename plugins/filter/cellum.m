% CELLUM  Amplitudes of square windows' filter responses, summed over a grid of cells.
%
%   cellum(side, count, orientCount, filterHalf, windows, filterReal, filterImag, ...
%          cellSize, cellsPerSide, amplitudes)
%
%   Each of the count windows (side x side, stacked in windows) is filtered alone exactly
%   as FILTRUM filters an image of that size (its edges repeated, energies re^2 + im^2 in
%   single precision); the square roots of the energies, in double precision, are summed over
%   cellsPerSide x cellsPerSide cells of cellSize pixels, the grid centred in the window (a
%   remainder of side - cellSize*cellsPerSide pixels split between the edges, the smaller
%   half first). Cell (r, c) of orientation o of window w is written into
%       amplitudes(r + (c - 1)*cellsPerSide, o, w)
%   (cells column-major). A cell's sum adds its columns from the left, each column's sum of
%   its rows from the top, every sum started at 0: the order of Octave's
%   sum(sum(block, 1), 2), so the result is bit for bit that of filtering the windows with
%   filtrum and summing the amplitudes in Octave, without making the energy maps. The call
%   returns nothing.
%
%   Arguments (counts and sizes rounded half up):
%     side          real scalar, the windows' side in pixels (at least 0).              read
%     count         real scalar, number of windows (at least 0).                        read
%     orientCount   real scalar, number of filters (at least 0).                        read
%     filterHalf    real scalar, half width h of the filters (0 to 23169).              read
%     windows       double array of at least side*side*count values: the windows,
%                   column-major, one after another (side x side x count).              read
%     filterReal    cell array of at least orientCount cells, each a double array of
%                   at least (2h+1)^2 values: the real parts of the filters.            read
%     filterImag    cell array likewise: their imaginary parts.                         read
%     cellSize      real scalar, cell side in pixels (at least 1).                      read
%     cellsPerSide  real scalar, cells along each side (at least 0; cellSize *
%                   cellsPerSide at most side).                                         read
%     amplitudes    double array of at least cellsPerSide^2 * orientCount * count
%                   values; those are overwritten.                      WRITTEN IN PLACE
%
%   Arguments past the tenth are ignored.
%
%   Threads: the windows are shared among OpenMP threads (OMP_NUM_THREADS, by default one
%   per core); each window's sums are formed by one thread exactly as on one thread.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Make amplitudes fresh right before the
%   call (zeros(cells, orientCount, count)); amplitudes sharing data with another argument
%   are refused with cellum:sharedData, and a slice passed as amplitudes writes into its
%   source.
%
%   Array arguments must be full and real: a sparse or complex array is refused. A scalar
%   argument may be any real numeric or logical scalar, a sparse one included.
%
%   A malformed call is refused before any value changes, with an error whose identifier is
%   cellum:<reason> and whose message names the argument and its position:
%     tooFewArguments, tooManyOutputs (the call returns nothing), notScalar, outOfRange (a
%     negative size, cells that do not fit the window), wrongClass, notCell, tooFewCells,
%     badCell, tooFewValues, tooLarge (a padded window beyond 32-bit indexing), sharedData.
%
%   Example:
%     filters = filter_bank('orientCount', 2);
%     windows = zeros(8, 8, 2); windows(:, 5:8, 2) = 1;      % flat; an edge down the middle
%     amplitudes = zeros(4, 2, 2);
%     cellum(8, 2, 2, 4, windows, cellfun(@real, filters, 'UniformOutput', false), ...
%            cellfun(@imag, filters, 'UniformOutput', false), 4, 2, amplitudes);
%     printf('flat window: %g; the edge: %d of 8 cells respond\n', ...
%            sum(sum(amplitudes(:, :, 1))), nnz(amplitudes(:, :, 2) > 1e-6))
%
%   See also FILTRUM.
