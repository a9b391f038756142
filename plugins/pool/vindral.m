% VINDRAL  Pool response maps into local maxima over small shifts, recording which shift won.
%
%   vindral(imageCount, imageRows, imageCols, orientCount, posShiftMax, orientShiftMax, ...
%           poolStep, responseMaps, pooledMaps, traceMaps)
%
%   For every image, every orientation o and every node of a coarse grid with spacing
%   poolStep, takes the largest response over the allowed perturbations of o and writes it
%   into pooledMaps, with the slot number of the perturbation that gave it into traceMaps.
%   The call returns nothing: the results are written into pooledMaps and traceMaps.
%
%   Pooled geometry: an image of rows x cols responses has floor(rows/poolStep) x
%   floor(cols/poolStep) nodes, and node (i, j) stands for pixel (i*poolStep, j*poolStep),
%   so the first node is pixel (poolStep, poolStep). An image smaller than poolStep on
%   either side has no nodes, and nothing is written for it.
%
%   Perturbations: orientation o has (2*posShiftMax + 1) * (2*orientShiftMax + 1) slots.
%   Slot k = p*(2*orientShiftMax + 1) + q, counted from 0, combines a position step d and an
%   orientation step e, where p and q stand for the steps 0, -1, +1, -2, +2, ... in that order.
%   The position step moves the pixel by floor(d*poolStep*cos(t) + 0.5) rows and
%   floor(d*poolStep*sin(t) + 0.5) columns, with t = (3.1415926*o)/orientCount; the
%   orientation step reads orientation mod(o + e, orientCount). Slot 0 is the pixel itself in
%   orientation o. Shifted pixels outside the image are skipped. A response wins only when
%   strictly greater than every earlier slot's, so ties keep the smaller slot and NaN never
%   wins; where no response exceeds -1e10 the pooled value is single(-1e10) and the trace 0.
%   A trace value means a perturbation only to tables made with the same orientCount,
%   posShiftMax, orientShiftMax and poolStep: pass the same four values to every plug-in
%   that reads the traces.
%
%   Arguments (counts and sizes are rounded half up: 2.5 gives 3):
%     imageCount      real scalar, number of images (at least 0).                     read
%     imageRows       double array, at least imageCount entries: the rows of image
%                     i's response maps (at least 0).                                  read
%     imageCols       double array, at least imageCount entries: the columns of
%                     image i's response maps (at least 0).                            read
%     orientCount     real scalar, number of orientations (at least 1).               read
%     posShiftMax     real scalar, largest position step in units of poolStep
%                     (at least 0).                                                    read
%     orientShiftMax  real scalar, largest orientation step (0 to orientCount-1).     read
%     poolStep        real scalar, node spacing and position unit in pixels (at
%                     least 1: a step of 0 has no pooled grid, so it is refused).     read
%     responseMaps    cell array of at least imageCount*orientCount cells; cell
%                     {image + orient*imageCount + 1} (image and orient counted from
%                     0, so a cell array shaped imageCount x orientCount works as
%                     responseMaps{image+1, orient+1}) holds a single array of at
%                     least imageRows(i)*imageCols(i) values, column-major.            read
%     pooledMaps      cell array laid out like responseMaps; each cell a single
%                     array of at least floor(rows/poolStep)*floor(cols/poolStep)
%                     values, column-major. Values beyond those are untouched.  WRITTEN IN PLACE
%     traceMaps       cell array laid out like pooledMaps, with cells of the same
%                     sizes: the slot number of each pooled value, as a single.  WRITTEN IN PLACE
%
%   Arguments past the tenth are ignored.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Every variable sharing an output map's
%   data sees the new values, so make each cell of pooledMaps and traceMaps its own fresh
%   array, for example with zeros(r, c, 'single') in a loop. Cells that share data with one
%   another or with responseMaps (as repmat({zeros(3, 'single')}, 2, 2) makes) are refused
%   with vindral:sharedData.
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
%   vindral:<reason> and whose message names the argument and its position:
%     tooFewArguments, tooManyOutputs (the call returns nothing), notScalar, outOfRange
%     (for example poolStep < 1, orientCount < 1, posShiftMax < 0, orientShiftMax outside
%     0 ... orientCount-1), wrongClass, notCell, tooFewCells, badCell (a cell that is not a
%     real single array), tooFewValues, tooLarge (more shift slots over all orientations,
%     orientCount*(2*posShiftMax+1)*(2*orientShiftMax+1), than 16777216, or than both 65536
%     and the number of values responseMaps holds, orientCount times the sum of
%     imageRows(i)*imageCols(i); posShiftMax*poolStep plus the largest imageRows or imageCols
%     entry above 2147483647; an image of more than 2147483647 values), sharedData.
%   Messages count cells, images, orientations and entries from 1, as Octave indexes them:
%   cell 4 of a grid of 3 images is "cell 4 (image 1, orientation 2)", maps{1, 2}.
%
%   Example:
%     rows = [64 48]; cols = [48 48]; orientCount = 8; poolStep = 2;
%     responses = cell(2, orientCount); pooled = responses; traces = responses;
%     for k = 1:numel(responses)
%       image = mod(k - 1, 2) + 1;
%       responses{k} = single(randn(rows(image), cols(image)));
%       pooled{k} = zeros(floor(rows(image)/poolStep), floor(cols(image)/poolStep), 'single');
%       traces{k} = zeros(size(pooled{k}), 'single');
%     end
%     vindral(2, rows, cols, orientCount, 3, 1, poolStep, responses, pooled, traces);
%     size(pooled{1})                          % 32 x 24
%
%   See also FENNOCK.
