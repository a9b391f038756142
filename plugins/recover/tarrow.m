% TARROW  Draw the template as it was found in each image, every element where it matched.
%
%   tarrow(imageCount, imageRows, imageCols, orientCount, posShiftMax, orientShiftMax, ...
%          poolStep, filterHalf, orientStamps, elementCount, elementOrients, ...
%          elementRowOffsets, elementColOffsets, pooledMaps, traceMaps, imageSketches, ...
%          anchorRows, anchorCols, saturationLevel)
%
%   For every image, clears its sketch and draws the template detected at the given anchor.
%   Element k lies at pooled position (ar + dr, ac + dc), with ar, ac the image's anchor and
%   dr, dc the element's offsets (all rounded half up). There it reads the pooled value r and
%   the trace slot of its orientation o, as vindral wrote them; the slot names the
%   perturbation that gave r. The element is then drawn at the perturbed place: the stamp of
%   the slot's orientation, centred on pixel (x*poolStep + rowShift, y*poolStep + colShift),
%   scaled by sqrt(saturate(r, s)) with saturate(r, s) = single(s*tanh(r/s)), and max-stamped:
%   a pixel takes the scaled stamp value (rounded to single) only where that is strictly
%   greater than what the sketch holds. The sketch thus ends as the pixel-wise maximum of 0 and
%   every drawn element, whatever the element order; stamps are clipped to the image.
%   Elements whose pooled position falls outside the pooled map are skipped, and a pooled
%   value of 0 or less (or NaN) draws nothing. Pooled and trace maps are only read.
%   The call returns nothing: the result is written into imageSketches.
%
%   Perturbations are those of vindral: slot k = p*(2*orientShiftMax + 1) + q, with p and q
%   standing for the steps 0, -1, +1, -2, +2, ... of position (along the element's direction,
%   in units of poolStep) and orientation. Pass the four values orientCount, posShiftMax,
%   orientShiftMax and poolStep that made the trace maps.
%
%   Arguments (counts, sizes, orientations, offsets and anchors are rounded half up):
%     imageCount        real scalar, number of images (at least 0).                   read
%     imageRows         double array, at least imageCount entries: rows of image i's
%                       sketch (at least 0).                                           read
%     imageCols         double array, at least imageCount entries: columns of image
%                       i's sketch (at least 0).                                       read
%     orientCount       real scalar, number of orientations (at least 1).             read
%     posShiftMax       real scalar, position range of the trace maps (at least 0).   read
%     orientShiftMax    real scalar, orientation range of the trace maps (0 to
%                       orientCount-1).                                                read
%     poolStep          real scalar, pooled node spacing in pixels (at least 1).      read
%     filterHalf        real scalar, half width h of a stamp (0 to 11584).            read
%     orientStamps      cell array of at least orientCount cells; cell {o+1} holds the
%                       (2h+1) x (2h+1) double stamp of orientation o (at least
%                       (2h+1)^2 values, column-major, centred on the element).        read
%     elementCount      real scalar, number K of template elements.                   read
%     elementOrients    double array, at least K entries: 0-based orientation of each
%                       element (0 to orientCount-1).                                  read
%     elementRowOffsets double array, at least K entries: row offset of each element
%                       from the anchor, pooled units, any sign.                       read
%     elementColOffsets double array, at least K entries: column offsets likewise.    read
%     pooledMaps        cell array of at least imageCount*orientCount cells; cell
%                       {image + orient*imageCount + 1} (0-based image and orient, so an
%                       imageCount x orientCount cell array works) holds a single array
%                       of at least floor(rows/poolStep)*floor(cols/poolStep) values.  read
%     traceMaps         cell array laid out like pooledMaps: the slot of each pooled
%                       value, as vindral writes it.                                   read
%     imageSketches     cell array of at least imageCount cells; cell {i+1} a single
%                       array of at least rows*cols values. The first rows*cols values
%                       are cleared, then drawn; values beyond them are untouched.
%                                                                        WRITTEN IN PLACE
%     anchorRows        double array, at least imageCount entries: anchor row of the
%                       template in image i, pooled units (may be 0 or negative), or
%                       NaN for no detection (as lurvane writes it).                   read
%     anchorCols        double array, at least imageCount entries: anchor columns
%                       likewise.                                                      read
%     saturationLevel   real scalar s, used unrounded; finite and nonzero.            read
%
%   Arguments past the nineteenth are ignored.
%
%   Choices of this implementation:
%     - An elementCount below 1 means a template without elements: every sketch is still
%       cleared, nothing is drawn, and the element arrays are not read (they may be empty,
%       but must still be double arrays).
%     - An anchor row or column of NaN means that nothing was found in that image: its sketch
%       is cleared and nothing is drawn. Infinite anchors are refused.
%     - A poolStep below 1 has no pooled grid and is refused.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Make each sketch its own fresh array, for
%   example with zeros(r, c, 'single') in a loop. Sketches that share data with one another or
%   with another argument are refused with tarrow:sharedData.
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
%   tarrow:<reason> and whose message names the argument and its position:
%     tooFewArguments, tooManyOutputs (the call returns nothing), notScalar, outOfRange
%     (poolStep < 1, orientCount < 1, posShiftMax < 0, orientShiftMax outside 0 ...
%     orientCount-1, filterHalf outside 0 ... 11584, a saturationLevel of 0 or not finite,
%     an element orientation outside 0 ... orientCount-1, offsets or anchors that do not
%     round to 32-bit integers, or a trace value that is not a slot, a whole number from 0 to
%     (2*posShiftMax+1)*(2*orientShiftMax+1)-1, at the pooled position of an element that
%     lies on the pooled map), wrongClass, notCell, tooFewCells, badCell (a cell of the wrong
%     class), tooFewValues, tooLarge (more shift slots over all orientations,
%     orientCount*(2*posShiftMax+1)*(2*orientShiftMax+1), than 16777216, or than both 65536
%     and the number of values pooledMaps holds, orientCount times the sum of
%     floor(imageRows(i)/poolStep)*floor(imageCols(i)/poolStep); posShiftMax*poolStep plus
%     the largest imageRows or imageCols entry above 2147483647; an image of more than
%     2147483647 values), sharedData.
%   Messages count cells, images, orientations and entries from 1, as Octave indexes them:
%   cell 4 of a grid of 3 images is "cell 4 (image 1, orientation 2)", maps{1, 2}.
%
%   Example:
%     rows = 64; cols = 48; orientCount = 8; poolStep = 2; h = 3;
%     responses = cell(1, orientCount); pooled = responses; traces = responses;
%     stamps = cell(1, orientCount);
%     for o = 1:orientCount
%       responses{o} = single(rand(rows, cols));
%       pooled{o} = zeros(rows/poolStep, cols/poolStep, 'single');
%       traces{o} = zeros(rows/poolStep, cols/poolStep, 'single');
%       stamps{o} = ones(2*h + 1);
%     end
%     vindral(1, rows, cols, orientCount, 2, 1, poolStep, responses, pooled, traces);
%     sketch = {zeros(rows, cols, 'single')};
%     tarrow(1, rows, cols, orientCount, 2, 1, poolStep, h, stamps, 2, [0 4], [3 5], ...
%            [4 4], pooled, traces, sketch, 5, 6, 1);
%     max(sketch{1}(:))                        % sqrt(tanh(r)), r the largest pooled value
%                                              % drawn: below sqrt(tanh(1)) = 0.8727
%
%   See also VINDRAL, TARROWVETO.
