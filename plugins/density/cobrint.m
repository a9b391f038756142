% COBRINT  Saturate double-precision response maps in place and add the density of the results.
%
%   cobrint(imageCount, orientCount, doubleResponseMaps, borderWidth, mapRows, mapCols, ...
%           binWidth, binCount, histogram, saturationLevel)
%
%   First every value v of every map, border included, becomes s*tanh(v/s), with
%   s = saturationLevel, computed in double precision as s*(2/(1 + exp(-2*v/s)) - 1). Then
%   the saturated values inside the tally window of every map are counted into binCount
%   bins of width binWidth: value w falls into bin floor(w/binWidth) (0-based), so a value
%   of exactly b*binWidth falls into bin b. Finally each bin is divided by binWidth times
%   the number of values counted, over the whole grid, so that counts added to a histogram
%   of zeros become a density: sum(histogram(1:binCount)) * binWidth is 1. The call
%   returns nothing: the maps hold the saturated values and the histogram the density.
%
%   Tally window: rows borderWidth+1 ... mapRows-borderWidth-1 and columns
%   borderWidth+1 ... mapCols-borderWidth-1 (1-based, inclusive). It leaves out borderWidth
%   rows at the top and borderWidth+1 at the bottom, and likewise for the columns; with
%   borderWidth 0 the last row and column are still left out.
%
%   Arguments (counts and sizes are rounded half up: 2.5 gives 3):
%     imageCount         real scalar, number of images (at least 0).          read
%     orientCount        real scalar, number of orientations (at least 0).    read
%     doubleResponseMaps cell array of at least imageCount*orientCount cells;
%                        cell {image + orient*imageCount + 1} (image and
%                        orient counted from 0, so an imageCount x orientCount
%                        cell array works as maps{image+1, orient+1}) holds a
%                        double array of at least mapRows*mapCols values,
%                        column-major. Only the first mapRows*mapCols values
%                        change.                                   WRITTEN IN PLACE
%     borderWidth        real scalar, see the tally window (at least 0).      read
%     mapRows, mapCols   real scalars, the size of every map (at least 0; at
%                        most 2147483647 values per map).                     read
%     binWidth           real scalar, used unrounded; finite and above 0.     read
%     binCount           real scalar, number of bins (at least 1).           read
%     histogram          double array of at least binCount values; bin b is
%                        histogram(b+1). The counts are added to what it holds
%                        and the whole is then divided, so pass zeros.
%                                                                  ACCUMULATED IN PLACE
%     saturationLevel    real scalar s, used unrounded; finite and nonzero
%                        (0 or NaN would wipe the maps to NaN).               read
%
%   Arguments past the tenth are ignored.
%
%   Choices at the limits:
%     - A saturated value below 0 (a negative response) falls into the first bin and counts
%       in the total: the first bin collects everything below its upper edge, as the last
%       bin collects everything from its lower edge up (NaN included). The density
%       therefore still sums to 1.
%     - When nothing is tallied (an empty tally window, or no maps at all) the histogram is
%       left exactly as it was, rather than filled with 0/0 NaNs that would look like data;
%       the maps are still saturated.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Every variable sharing a map's or the
%   histogram's data sees the new values, so pass arrays that no other variable shares:
%   make each one fresh, for example with randn(...) or zeros(1, binCount). Cells that share
%   one array (as repmat({zeros(9)}, 2, 2) makes), or a histogram sharing a map's data, are
%   refused with cobrint:sharedData.
%
%   ALIASING THE CALL CANNOT SEE: a literal constant inside a function or loop (h = [0 0 0 0],
%   then h passed as an output) is overwritten in the parsed code itself, so the next run of
%   that line starts from the changed values; a range (h = 0:3) passed as an output receives
%   nothing; a slice (b = A(:, 1:2)) passed as an output writes into A. The plug-ins cannot
%   detect these: make every output fresh right before the call, for example with zeros,
%   ones or rand.
%
%   Array arguments must be full and real: a sparse or complex array is refused. A scalar
%   argument may be any real numeric or logical scalar, a sparse one included.
%
%   A malformed call is refused before any value changes, with an error whose identifier is
%   cobrint:<reason> (tooFewArguments, tooManyOutputs, notScalar, outOfRange, wrongClass,
%   notCell, tooFewCells, badCell, tooFewValues, tooLarge, sharedData, outOfMemory) and
%   whose message names the argument and its position. Single-precision maps are refused
%   (cobrint:badCell).
%   Messages count cells, images, orientations and entries from 1, as Octave indexes them:
%   cell 4 of a grid of 3 images is "cell 4 (image 1, orientation 2)", maps{1, 2}.
%
%   Example:
%     maps = cell(2, 4);                       % 2 images, 4 orientations
%     for k = 1:numel(maps)
%       maps{k} = abs(randn(64, 48)) * 3;      % one fresh array per cell
%     end
%     density = zeros(1, 20);
%     cobrint(2, 4, maps, 2, 64, 48, 0.1, 20, density, 2);
%     sum(density) * 0.1                       % 1, up to rounding
%
%   See also FENNOCK.
