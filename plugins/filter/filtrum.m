% FILTRUM  Energies of one image's responses to a bank of complex filters, in place.
%
%   filtrum(mapRows, mapCols, orientCount, filterHalf, image, filterReal, filterImag, responseMaps)
%
%   Filters the image with each of orientCount complex filters of (2h+1) x (2h+1) values
%   (h = filterHalf) and writes the energy |r|^2 of each pixel's response r into that
%   filter's single-precision map. The response at (x, y) is the sum, over dx and dy from
%   -h to h, of image(x+dx, y+dy) * filter(h+1-dx, h+1-dy): the filter is applied as a
%   convolution (flipped), centred on the pixel, and where the neighbourhood leaves the
%   image the nearest edge value is taken (the edges are repeated outward). The call
%   returns nothing: the results are written into responseMaps.
%
%   Precision: image and filter values are rounded to single precision, and the real and
%   imaginary sums are formed in single precision in one order, column by column from the
%   left (dy = -h ... h), each column from the top (dx = -h ... h); the energy is
%   re*re + im*im. The results have the same bits whatever the processor and however many
%   threads share the work. They agree with the same energies computed by FFT in single
%   precision (the image padded by repeating its edges) to within 1e-5 of the largest
%   energy of the map.
%
%   Threads: the maps are shared, a strip of columns at a time, among OpenMP threads; their
%   number follows the environment variable OMP_NUM_THREADS, by default one per core.
%
%   Arguments (sizes and counts are rounded half up: 2.5 gives 3):
%     mapRows       real scalar, rows of the image and of every map (at least 0).       read
%     mapCols       real scalar, columns of the image and of every map (at least 0);
%                   mapRows*mapCols must stay within 2147483647.                       read
%     orientCount   real scalar, number of filters and of maps (at least 0).           read
%     filterHalf    real scalar h, half width of every filter: 0 to 23169, and the
%                   image padded by h on every side, (mapRows+2h) x (mapCols+2h),
%                   must hold at most 2147483647 values.                               read
%     image         double array of at least mapRows*mapCols values, column-major:
%                   a mapRows x mapCols image as it is.                                read
%     filterReal    cell array of at least orientCount cells; cell o holds a double
%                   array of at least (2h+1)^2 values, the real part of filter o,
%                   column-major: real(filters{o}) of a (2h+1) x (2h+1) filter.         read
%     filterImag    the same for the imaginary parts: imag(filters{o}).               read
%     responseMaps  cell array of at least orientCount cells; cell o holds a single
%                   array of at least mapRows*mapCols values that receives the
%                   energies of filter o, column-major. Only the first
%                   mapRows*mapCols values of each cell are changed.      WRITTEN IN PLACE
%
%   Any values are accepted: a NaN or an infinity in the image reaches only the energies
%   whose neighbourhood holds it, one in a filter every energy of its map. An image of 0
%   rows or 0 columns, or orientCount 0, writes nothing.
%
%   Arguments past the eighth are ignored.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Every variable sharing a map's data sees
%   the new values, so pass maps that no other variable shares: make each one fresh, for
%   example with zeros(mapRows, mapCols, 'single'). Cells that share one array (as
%   repmat({zeros(3, 'single')}, 1, 2) makes) are refused with filtrum:sharedData, since
%   each would receive the energies of another filter.
%
%   ALIASING THE CALL CANNOT SEE: a slice (b = A(:, 1:2)) passed as an output writes into A.
%   (A literal constant or a range, which the parsed code shares in the same way, is double
%   and so never a valid output here.) The plug-ins cannot detect this: make every output
%   fresh right before the call, for example with zeros(..., 'single').
%
%   Array arguments must be full and real, which is why each filter is passed as its real
%   and imaginary parts: a sparse or complex array is refused. A scalar argument may be any
%   real numeric or logical scalar, a sparse one included.
%
%   A malformed call is refused before any value changes, with an error whose identifier is
%   filtrum:<reason> (tooFewArguments, tooManyOutputs, notScalar, outOfRange, wrongClass,
%   notCell, tooFewCells, badCell, tooFewValues, tooLarge, sharedData, outOfMemory) and whose
%   message names the argument and its position, what was expected and what was given.
%   Messages count cells and entries from 1, as Octave indexes them.
%
%   Example:
%     image = reshape(1:20, 4, 5);           % 4 x 5, values 1 ... 20
%     tap = zeros(3); tap(3, 2) = 1;         % one tap below the centre: takes the pixel above
%     maps = {zeros(4, 5, 'single')};
%     filtrum(4, 5, 1, 1, image, {tap}, {zeros(3)}, maps);
%     maps{1}                                % image(x-1, y)^2: row 1 repeated above the image
%
%   See also CONV2, FFT2.
