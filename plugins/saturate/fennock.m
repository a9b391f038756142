% FENNOCK  Saturate a grid of single-precision response maps in place.
%
%   fennock(imageCount, imageRows, imageCols, orientCount, saturationLevel, responseMaps)
%
%   Every value v of every response map becomes s*tanh(v/s), with s = saturationLevel,
%   computed in double precision as s*(2/(1 + exp(-2*v/s)) - 1) and stored back in single
%   precision. Small responses pass almost unchanged; large ones approach +-s. The call
%   returns nothing: the results are written into responseMaps.
%
%   Arguments (sizes and counts are rounded half up: 2.5 gives 3):
%     imageCount      real scalar, number of images (at least 0).             read
%     imageRows       double array, at least imageCount entries: the rows of
%                     image i's maps (at least 0).                               read
%     imageCols       double array, at least imageCount entries: the columns
%                     of image i's maps (at least 0).                            read
%     orientCount     real scalar, number of orientations (at least 0).       read
%     saturationLevel real scalar s, used unrounded; must be finite and
%                     nonzero (a level of 0 would wipe every map to 0 or NaN,
%                     so it is refused before anything is written).            read
%     responseMaps    cell array of at least imageCount*orientCount cells;
%                     cell {image + orient*imageCount + 1} (image and orient
%                     counted from 0, so a cell array shaped imageCount x
%                     orientCount works as responseMaps{image+1, orient+1})
%                     holds a single array of at least imageRows(i) *
%                     imageCols(i) values, column-major. Only the first
%                     rows*cols values of each cell are changed.          WRITTEN IN PLACE
%
%   Arguments past the sixth are ignored.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Every variable sharing a map's data sees
%   the new values, so pass maps that no other variable shares: make each one fresh, for
%   example with zeros(rows, cols, 'single') or single(...) of a computation. Cells that share
%   one array (as repmat({zeros(3, 'single')}, 2, 2) makes) are refused with
%   fennock:sharedData, since each would be saturated more than once.
%
%   ALIASING THE CALL CANNOT SEE: a slice (b = A(:, 1:2)) passed as an output writes into A.
%   (A literal constant or a range, which the parsed code shares in the same way, is double
%   and so never a valid output here.) The plug-ins cannot detect this: make every output
%   fresh right before the call, for example with zeros, ones or rand (with 'single').
%
%   Array arguments must be full and real: a sparse or complex array is refused. A scalar
%   argument may be any real numeric or logical scalar, a sparse one included.
%
%   A malformed call is refused before any value changes, with an error whose identifier is
%   fennock:<reason> (tooFewArguments, tooManyOutputs, notScalar, outOfRange, wrongClass,
%   notCell, tooFewCells, badCell, tooFewValues, tooLarge, sharedData) and whose message
%   names the argument and its position.
%   Messages count cells, images, orientations and entries from 1, as Octave indexes them:
%   cell 4 of a grid of 3 images is "cell 4 (image 1, orientation 2)", maps{1, 2}.
%
%   Example:
%     maps = cell(2, 4);                       % 2 images, 4 orientations
%     for k = 1:numel(maps)
%       maps{k} = single(randn(64, 48) * 3);   % one fresh array per cell
%     end
%     fennock(2, [64 64], [48 48], 4, 2.5, maps);
%     max(abs(maps{1}(:)))                     % at most 2.5
%
%   See also TANH.
