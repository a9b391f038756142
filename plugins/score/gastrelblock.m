% GASTRELBLOCK  Score a template again, in place, at a block of placements per image.
%
%   gastrelblock(imageCount, imageRows, imageCols, orientCount, poolStep, templateRows, ...
%                templateCols, elementCount, elementOrients, elementRowOffsets, ...
%                elementColOffsets, elementWeights, elementBiases, pooledMaps, scoreMaps, ...
%                normalizerMaps, saturationLevel, firstAnchorRows, lastAnchorRows, ...
%                firstAnchorCols, lastAnchorCols)
%
%   The first seventeen arguments are GASTREL's, with the same meaning, geometry, rounding
%   and refusals. For every image, only the anchors (i, j) with
%       firstAnchorRows(image) <= i <= lastAnchorRows(image)  and
%       firstAnchorCols(image) <= j <= lastAnchorCols(image)
%   are scored: the score map's value of each such placement becomes the score GASTREL adds
%   into a zero map, bit for bit, unless it holds exactly single(-1e10), the score of a
%   placement ruled out (LURVANE's floor), which it keeps. Every other value of the score
%   maps is left as it is. After inhibition has changed the pooled maps near a detection,
%   this brings the placements whose elements can see the change up to date without scoring
%   whole maps again.
%
%   Bounds are rounded half up and clipped to the image's anchors (1 - floor(templateRows/
%   poolStep) ... floor(rows/poolStep), likewise for columns), so -Inf and Inf reach its
%   edges. An image with NaN in any of its four bounds, or whose block is empty once clipped,
%   is left as it is. The call returns nothing.
%
%   Arguments (besides GASTREL's seventeen; counts and sizes are rounded half up):
%     scoreMaps          as for GASTREL; the block's values are replaced, not added to.
%                                                                      WRITTEN IN PLACE
%     firstAnchorRows    double array, at least imageCount entries: each image's first
%                        anchor row of the block, pooled units, any sign, or NaN.       read
%     lastAnchorRows     double array, at least imageCount entries: its last anchor row. read
%     firstAnchorCols    double array, at least imageCount entries: first anchor column. read
%     lastAnchorCols     double array, at least imageCount entries: last anchor column. read
%
%   Arguments past the twenty-first are ignored.
%
%   Threads: the blocks' anchor columns are shared among OpenMP threads (OMP_NUM_THREADS, by
%   default one per core); each score is computed by one thread exactly as on one thread.
%
%   IN-PLACE WARNING: as for GASTREL, make each cell of scoreMaps its own array; score maps
%   that share data with one another or with any other argument are refused with
%   gastrelblock:sharedData, and a slice passed as an output writes into its source.
%
%   A malformed call is refused before any value changes, with an error whose identifier is
%   gastrelblock:<reason> (GASTREL's reasons; a bound array shorter than imageCount is
%   tooFewValues, one not double wrongClass) and whose message names the argument and its
%   position. Messages count cells, images, orientations and entries from 1.
%
%   Example:
%     rows = 64; cols = 48; poolStep = 2; pooled = {ones(32, 24, 'single')};
%     normalizers = {ones(rows, cols, 'single')};
%     args = {1, rows, cols, 1, poolStep, 20, 16, 2, [0 0], [1 5], [2 4], [1 1], [0.1 0.1]};
%     full = {zeros(42, 32, 'single')};
%     gastrel(args{:}, pooled, full, normalizers, 6);
%     scores = {zeros(42, 32, 'single') + 7};
%     scores{1}(15, 9) = -1e10;                     % a placement ruled out
%     gastrelblock(args{:}, pooled, scores, normalizers, 6, 3, 6, 0, 2);
%     block = scores{1}(13:16, 8:10);               % anchors 3..6 x 0..2
%     printf('%d of 12 rescored as gastrel scores them, %d kept ruled out, %d untouched\n', ...
%            sum(block(:) == full{1}(13:16, 8:10)(:)), sum(block(:) == -1e10), ...
%            sum(scores{1}(:) == 7))
%
%   See also GASTREL, LURVANE, TARROWVETO.
