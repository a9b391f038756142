% SCALUM  Resample an image separably with given taps, as products with sparse resampling matrices.
%
%   scalum(imageRows, imageCols, outRows, outCols, image, colCounts, colSources, colWeights, ...
%          rowCounts, rowSources, rowWeights, resized)
%
%   Resamples the imageRows x imageCols double image to outRows x outCols in two passes. First
%   along its rows: column j of the intermediate image is
%       across(:, j) = sum over the taps t of output column j of colWeights(t) * image(:, colSources(t))
%   then along its columns: row i of the result is
%       resized(i, :) = sum over the taps t of output row i of rowWeights(t) * across(rowSources(t), :)
%   Output column j has colCounts(j) taps, listed in colSources and colWeights after the taps
%   of columns 1 ... j-1; likewise for rows. Every value's sum starts at 0 and adds the terms
%   in the order listed, in double precision, whatever the number of threads: so, with the
%   taps of sparse matrices Sc (outCols x imageCols) and Sr (outRows x imageRows) listed as
%   find gives them,
%       [colSources, columns, colWeights] = find(Sc');  colCounts = accumarray(columns, 1, [outCols 1]);
%       [rowSources, rowIndex, rowWeights] = find(Sr'); rowCounts = accumarray(rowIndex, 1, [outRows 1]);
%   resized is bit for bit Sr * (image * Sc'), as Octave forms these products, in a fraction
%   of the time and on every core. The call returns nothing.
%
%   Arguments (counts, sizes and sources are rounded half up):
%     imageRows   real scalar, rows of the image (at least 0).                          read
%     imageCols   real scalar, columns of the image (at least 0).                       read
%     outRows     real scalar, rows of the result (at least 0).                         read
%     outCols     real scalar, columns of the result (at least 0).                      read
%     image       double array of at least imageRows*imageCols values, column-major.    read
%     colCounts   double array, at least outCols entries: taps of each output column
%                 (at least 0).                                                          read
%     colSources  double array, as many entries as colCounts adds up to: the image
%                 column each tap reads, 1 ... imageCols.                                read
%     colWeights  double array, as many entries: each tap's weight (not rounded).       read
%     rowCounts   double array, at least outRows entries: taps of each output row.      read
%     rowSources  double array: the intermediate row each tap reads, 1 ... imageRows.   read
%     rowWeights  double array: each tap's weight.                                      read
%     resized     double array of at least outRows*outCols values; those are
%                 overwritten, values beyond them untouched.              WRITTEN IN PLACE
%
%   Arguments past the twelfth are ignored. imageRows * outCols (the intermediate image)
%   and each side's product must stay within 32-bit indexing (2147483647 values).
%
%   Threads: the result's columns are shared among OpenMP threads (OMP_NUM_THREADS, by
%   default one per core) when the call is large enough; each value is computed by one thread
%   exactly as on one thread.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Make resized fresh right before the call
%   (zeros(outRows, outCols)); a resized array sharing data with another argument is refused
%   with scalum:sharedData, and a slice passed as resized writes into its source.
%
%   Array arguments must be full and real: a sparse or complex array is refused. A scalar
%   argument may be any real numeric or logical scalar, a sparse one included.
%
%   A malformed call is refused before any value changes, with an error whose identifier is
%   scalum:<reason> and whose message names the argument and its position:
%     tooFewArguments, tooManyOutputs (the call returns nothing), notScalar, outOfRange (a
%     negative size or count, a source outside the image), wrongClass (an array not double),
%     tooFewValues (a short image, tap array or result), tooLarge (beyond 32-bit indexing),
%     sharedData. Entries are counted from 1.
%
%   Example:
%     image = magic(4);
%     % halve the columns by averaging pairs, keep the rows: 4 x 2
%     resized = zeros(4, 2);
%     scalum(4, 4, 4, 2, image, [2 2], [1 2 3 4], [0.5 0.5 0.5 0.5], ones(4, 1), 1:4, ...
%            ones(1, 4), resized);
%     disp(resized)                 % [9 8; 8 9; 8 9; 9 8]
%
%   See also FILTRUM.
