% TARROWVETO  Draw the template found in each image, score its elements and inhibit what they explain.
%
%   tarrowveto(imageCount, imageRows, imageCols, orientCount, posShiftMax, orientShiftMax, ...
%              poolStep, filterHalf, orientStamps, elementCount, elementOrients, ...
%              elementRowOffsets, elementColOffsets, elementWeights, elementBiases, ...
%              responseMaps, pooledMaps, traceMaps, imageSketches, anchorRows, anchorCols, ...
%              saturationLevel, templateRows, templateCols, overlapTable, imageScores, ...
%              normalizerMaps)
%
%   For every image, clears its sketch and walks the elements of the template detected at the
%   given anchor, in order. Element k lies at pooled position (ar + dr, ac + dc) (anchor plus
%   offsets, all rounded half up); elements outside the pooled map are skipped. There it reads
%   the trace slot and the pooled value r of its orientation; unless r > 0 (NaN is not), the
%   element adds nothing. Otherwise, with t = saturate(single(r/n), s) =
%   single(s*tanh(v/s)) and n the image's normalizer:
%     1. draw: the stamp of the slot's orientation, centred on the slot's perturbed pixel,
%        scaled by sqrt(t), is max-stamped into the sketch as tarrow does;
%     2. inhibit: every response of every orientation b within 2h rows and columns of that
%        pixel is multiplied by its factor from overlapTable{a + 1, b + 1} (a the drawn
%        orientation), and each pooled value of the image inside its pool window whose
%        traced source response met a factor of exactly 0 is searched again over the
%        suppressed responses, its trace slot rewritten;
%     3. score: imageScores(i) becomes single(imageScores(i) + (w*t - b)).
%   Later elements see the maps as earlier ones left them: an element whose source was wiped
%   out is drawn at its next-best match, or skipped when that is no longer positive.
%   The normalizer n is read once per image, from normalizerMaps{i} at the template's centre
%   pixel ((ar + floor((templateRows/2)/poolStep))*poolStep, likewise for columns); it is 1
%   when that pixel lies outside the image.
%   The pool window of an image of rows x cols pixels is rows
%   floor((h+1)/poolStep) + 1 + posShiftMax ... floor((rows-h)/poolStep) - 1 - posShiftMax
%   (likewise for columns); an element outside it is still drawn, inhibited and scored.
%   The call returns nothing: the results are written into responseMaps, pooledMaps,
%   traceMaps, imageSketches and imageScores.
%
%   Arguments (counts, sizes, orientations, offsets and anchors are rounded half up):
%     imageCount        real scalar, number of images (at least 0).                   read
%     imageRows         double array, at least imageCount entries: rows of image i's
%                       responses, sketch and normalizer (at least 0).                 read
%     imageCols         double array, at least imageCount entries: columns likewise.  read
%     orientCount       real scalar, number of orientations (at least 1).             read
%     posShiftMax       real scalar, position range of the trace maps (at least 0).   read
%     orientShiftMax    real scalar, orientation range (0 to orientCount-1).          read
%     poolStep          real scalar, pooled node spacing in pixels (at least 1).      read
%     filterHalf        real scalar, half width h of a stamp (0 to 11584); the
%                       inhibition reaches 2h pixels.                                  read
%     orientStamps      cell array of at least orientCount cells, cell {o+1} a double
%                       array of at least (2h+1)^2 values: the stamp of orientation o. read
%     elementCount      real scalar, number K of template elements.                   read
%     elementOrients    double array, at least K entries, 0 to orientCount-1.         read
%     elementRowOffsets double array, at least K entries, pooled units, any sign.     read
%     elementColOffsets double array, at least K entries, pooled units, any sign.     read
%     elementWeights    double array, at least K entries: weight w of each element.   read
%     elementBiases     double array, at least K entries: bias b of each element.     read
%     responseMaps      cell array of at least imageCount*orientCount cells, cell
%                       {image + orient*imageCount + 1} a single array of at least
%                       rows*cols values: the responses pooledMaps were made from.
%                                                                 WRITTEN IN PLACE (inhibited)
%     pooledMaps        cell array laid out like responseMaps, each a single array of at
%                       least floor(rows/poolStep)*floor(cols/poolStep) values, as
%                       vindral writes them.                  WRITTEN IN PLACE (recomputed)
%     traceMaps         cell array laid out like pooledMaps: the slot of each pooled
%                       value.                                WRITTEN IN PLACE (recomputed)
%     imageSketches     cell array of at least imageCount cells, cell {i+1} a single
%                       array of at least rows*cols values; those are cleared, then
%                       drawn; values beyond them are untouched. Or {} (a cell array
%                       without cells): nothing is cleared or drawn, the rest of the
%                       call is the same (step 1 skipped; clearing whole sketches is
%                       most of the cost of a call that inhibits a few elements).
%                                                                 WRITTEN IN PLACE
%     anchorRows        double array, at least imageCount entries: anchor row of the
%                       detection in image i, pooled units (may be 0 or negative), or
%                       NaN for no detection (as lurvane writes it).                   read
%     anchorCols        double array, at least imageCount entries: anchor columns.    read
%     saturationLevel   real scalar s, used unrounded; finite and nonzero.            read
%     templateRows      real scalar, template extent in rows, pixels (at least 0);
%                       places the template's centre only.                             read
%     templateCols      real scalar, template extent in columns, pixels (at least 0). read
%     overlapTable      cell array of at least orientCount^2 cells; cell
%                       {a + b*orientCount + 1} (an orientCount x orientCount cell array
%                       works as overlapTable{a+1, b+1}) holds at least (4h+1)^2 double
%                       factors applied to orientation b around an element of
%                       orientation a, centred on the element.                         read
%     imageScores       single array, at least imageCount entries: entry i accumulates
%                       the score terms of image i (pass zeros for plain scores).
%                                                                 ACCUMULATED IN PLACE
%     normalizerMaps    cell array of at least imageCount cells, cell {i+1} a single
%                       array of at least rows*cols values (brelind's maps).           read
%
%   Arguments past the twenty-seventh are ignored.
%
%   Choices of this implementation:
%     - An elementCount below 1 means a template without elements: every sketch is still
%       cleared; nothing is drawn, inhibited or scored, and the element arrays are not read
%       (they may be empty, but must still be double arrays).
%     - A normalizer value of exactly 0 at the template's centre is used as 1, so a zero
%       mean leaves responses as they are rather than saturating every element.
%     - An anchor row or column of NaN means that nothing was found in that image: its sketch
%       is cleared and nothing is drawn, inhibited or scored. Infinite anchors are refused.
%     - A poolStep below 1 has no pooled grid and is refused.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself: every variable sharing the data of a
%   response, pooled or trace map, a sketch or imageScores sees the new values. Keep a copy
%   with data of its own (m * 1) of any map whose values from before the call you need.
%   Arrays the call writes that share data with another argument are refused with
%   tarrowveto:sharedData.
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
%   tarrowveto:<reason> and whose message names the argument and its position:
%     tooFewArguments, tooManyOutputs (the call returns nothing), notScalar, outOfRange
%     (poolStep < 1, orientCount < 1, posShiftMax < 0, orientShiftMax outside 0 ...
%     orientCount-1, filterHalf outside 0 ... 11584, a saturationLevel of 0 or not finite,
%     templateRows or templateCols below 0, an element orientation outside 0 ...
%     orientCount-1, offsets or anchors that do not round to 32-bit integers, or a trace
%     value that is not a slot, a whole number from 0 to
%     (2*posShiftMax+1)*(2*orientShiftMax+1)-1, where it may be read: at the pooled
%     position of an element on the pooled map, and in the pool window of an image with a
%     detection within (posShiftMax*poolStep + 2*filterHalf)/poolStep (rounded down) +
%     posShiftMax + 2 pooled positions, along rows and along columns, of the box of its
%     elements on the map: trace values farther away are never read), wrongClass (for example a double imageScores), notCell,
%     tooFewCells, badCell (a cell of the wrong class), tooFewValues, tooLarge (more shift
%     slots over all orientations, orientCount*(2*posShiftMax+1)*(2*orientShiftMax+1), than
%     16777216, or than both 65536 and the number of values responseMaps holds, orientCount
%     times the sum of imageRows(i)*imageCols(i); posShiftMax*poolStep plus the largest
%     imageRows or imageCols entry above 2147483647; an image of more than 2147483647
%     values), sharedData.
%   Messages count cells, images, orientations and entries from 1, as Octave indexes them:
%   cell 4 of a grid of 3 images is "cell 4 (image 1, orientation 2)", maps{1, 2}.
%
%   Example:
%     rows = 64; cols = 48; orientCount = 8; poolStep = 2; h = 3;
%     responses = cell(1, orientCount); pooled = responses; traces = responses;
%     stamps = cell(1, orientCount); overlap = cell(orientCount);
%     for o = 1:orientCount
%       responses{o} = single(rand(rows, cols));
%       pooled{o} = zeros(rows/poolStep, cols/poolStep, 'single');
%       traces{o} = zeros(rows/poolStep, cols/poolStep, 'single');
%       stamps{o} = ones(2*h + 1);
%     end
%     for k = 1:numel(overlap)
%       overlap{k} = ones(4*h + 1);
%       overlap{k}(2*h + 1, 2*h + 1) = 0;        % wipe out the matched response itself
%     end
%     vindral(1, rows, cols, orientCount, 2, 1, poolStep, responses, pooled, traces);
%     sketch = {zeros(rows, cols, 'single')}; score = zeros(1, 'single');
%     tarrowveto(1, rows, cols, orientCount, 2, 1, poolStep, h, stamps, 2, [0 4], [3 5], ...
%                [4 4], [1 2], [0.1 0.1], responses, pooled, traces, sketch, 5, 6, 1, ...
%                20, 20, overlap, score, {ones(rows, cols, 'single')});
%     score
%
%   See also VINDRAL, BRELIND, TARROW.
