% TARROWVETOBLOCK  Inhibit what the template found in each image explains, then score a block again.
%
%   tarrowvetoblock(imageCount, imageRows, imageCols, orientCount, posShiftMax, ...
%                   orientShiftMax, poolStep, filterHalf, orientStamps, elementCount, ...
%                   elementOrients, elementRowOffsets, elementColOffsets, elementWeights, ...
%                   elementBiases, responseMaps, pooledMaps, traceMaps, imageSketches, ...
%                   anchorRows, anchorCols, saturationLevel, templateRows, templateCols, ...
%                   overlapTable, imageScores, normalizerMaps, scoreMaps, firstAnchorRows, ...
%                   lastAnchorRows, firstAnchorCols, lastAnchorCols)
%   tarrowvetoblock(..., lastAnchorCols, cropImage, cropFirstRow, cropFirstCol, cropRows, ...
%                   cropCols, pooledCrops, traceCrops)
%
%   The step a search takes after each detection, in one call. The first twenty-seven
%   arguments are TARROWVETO's, with the same meaning, rounding and refusals, and the call
%   does to them exactly what TARROWVETO does (imageSketches may be {} to draw nothing).
%   Then, in each image, the anchors (i, j) with
%       firstAnchorRows(image) <= i <= lastAnchorRows(image)  and
%       firstAnchorCols(image) <= j <= lastAnchorCols(image)
%   are scored again in scoreMaps on the image's pooled and normalizer maps as the inhibition
%   left them, exactly as GASTRELBLOCK scores them (the same elements, weights, biases, pool
%   step, template size and saturation level): each such score becomes the score GASTREL adds
%   into a zero map, unless it holds single(-1e10), which it keeps. The bounds are rounded half
%   up and clipped to the image's anchors; NaN in any of an image's four bounds leaves its score
%   map as it is. The result is bit for bit that of TARROWVETO followed by GASTRELBLOCK.
%
%   Given a crop (the seven arguments after lastAnchorCols), the call first copies, for every
%   orientation o, the block of cropRows x cropCols values of image cropImage's pooled and
%   trace maps whose first value lies at pooled row cropFirstRow and column cropFirstCol into
%   pooledCrops{o} and traceCrops{o}, as they are before anything is inhibited, whether or not
%   the image has a detection: the maps a search keeps to draw a detection later (TARROW on
%   the crops), copied by the thread that then inhibits the image. The rest of the call is
%   the same with or without a crop.
%
%   Arguments (besides TARROWVETO's twenty-seven):
%     scoreMaps        cell array of at least imageCount cells; cell {image + 1} holds a
%                      single array of at least floor((templateRows + rows)/poolStep) *
%                      floor((templateCols + cols)/poolStep) values.   WRITTEN IN PLACE
%     firstAnchorRows  double arrays, at least imageCount entries each: the bounds of each
%     lastAnchorRows   image's block of anchors, pooled units, any sign, or NaN.     read
%     firstAnchorCols
%     lastAnchorCols
%     cropImage        the image cropped, 1 ... imageCount (rounded half up, as are the four
%                      numbers below).                                            read
%     cropFirstRow     the crop's first pooled row and column, from 1, within the image's
%     cropFirstCol     pooled maps (floor(rows/poolStep) x floor(cols/poolStep)).    read
%     cropRows         the crop's size, at least 1 each, the crop lying within the pooled
%     cropCols         maps.                                                      read
%     pooledCrops      cell arrays of at least orientCount cells; each cell holds a single
%     traceCrops       array of at least cropRows * cropCols values, column-major.
%                                                                     WRITTEN IN PLACE
%
%   A call of 33 to 38 arguments is refused (a crop is given whole or not at all); arguments
%   past the thirty-ninth are ignored.
%
%   Threads: the images are shared among OpenMP threads (OMP_NUM_THREADS, by default one per
%   core); a thread with no image left to inhibit scores the blocks' columns of the images
%   already inhibited, each column by one thread exactly as on one thread, so the results do
%   not depend on the thread count.
%
%   IN-PLACE WARNING: as for TARROWVETO; score maps or crops that share data with one another
%   or with any other argument are refused with tarrowvetoblock:sharedData.
%
%   A malformed call is refused before any value changes, with an error whose identifier is
%   tarrowvetoblock:<reason> (TARROWVETO's reasons; a score map that is too small is
%   tooFewValues, one of more than 2147483647 values tooLarge, a bound array shorter than
%   imageCount tooFewValues, one not double wrongClass, a crop not within its image's pooled
%   maps outOfRange, a crop map that is too small tooFewValues) and whose message names the
%   argument and its position. Messages count cells, images, orientations and entries from 1.
%
%   Example:
%     % one image of 16 x 16 pixels, one orientation, a template of one element
%     [stamps, pooled, traces] = deal({ones(3)}, {zeros(8, 8, 'single')}, {zeros(8, 8, 'single')});
%     responses = {ones(16, 16, 'single')};
%     vindral(1, 16, 16, 1, 1, 0, 2, responses, pooled, traces);
%     scores = {zeros(12, 12, 'single')};
%     tarrowvetoblock(1, 16, 16, 1, 1, 0, 2, 1, stamps, 1, 0, 1, 1, 1, 0, responses, pooled, ...
%                     traces, {}, 3, 3, 2, 8, 8, {zeros(5)}, zeros(1, 1, 'single'), ...
%                     {ones(16, 16, 'single')}, scores, 1, 4, 1, 4);
%     % the block, anchors 1 ... 4 (score rows and columns 5 ... 8): 0 where the element now
%     % reads the inhibited responses
%     disp(scores{1}(5:8, 5:8))
%
%   See also TARROWVETO, GASTRELBLOCK, LURVANEVETO.
