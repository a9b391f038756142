% GASTREL  Score a template of oriented elements at every placement on pooled response maps.
%
%   gastrel(imageCount, imageRows, imageCols, orientCount, poolStep, templateRows, ...
%           templateCols, elementCount, elementOrients, elementRowOffsets, ...
%           elementColOffsets, elementWeights, elementBiases, pooledMaps, scoreMaps, ...
%           normalizerMaps, saturationLevel)
%
%   For every image and every anchor (i, j) of the pooled grid, adds to the score map
%       sum over elements k of  w(k)*sat(r(k)/n, s) - b(k)
%   where r(k) is the pooled response of element k's orientation at (i + rowOffset(k),
%   j + colOffset(k)), n the normalizer at the template's centre, s = saturationLevel and
%   sat(v, s) = s*(2/(1 + exp(-2*v/s)) - 1) (that is s*tanh(v/s)). An element whose position
%   falls outside the pooled map adds -b(k) alone. The call returns nothing: the scores are
%   ADDED to what scoreMaps hold, never cleared, so pass zero maps for plain scores.
%
%   Geometry (all quotients floored; sizes rounded half up, 2.5 gives 3):
%     pooled map       floor(rows/poolStep) x floor(cols/poolStep); pooled position p stands
%                      for pixel p*poolStep.
%     anchors          rows 1 - floor(templateRows/poolStep) ... floor(rows/poolStep), and
%                      likewise for columns; anchors may be 0 or negative.
%     score map        floor((templateRows + rows)/poolStep) x floor((templateCols +
%                      cols)/poolStep); score position (rho, sigma) belongs to the anchor
%                      (rho - floor(templateRows/poolStep), sigma - floor(templateCols/poolStep)).
%                      When the remainders of rows/poolStep and templateRows/poolStep add up
%                      to poolStep or more, the last score row is no anchor's and keeps its
%                      value (likewise for columns); lurvane never searches it either.
%     centre           pixel ((i + floor((templateRows/2)/poolStep))*poolStep,
%                      (j + floor((templateCols/2)/poolStep))*poolStep); n is the
%                      normalizer map's value there, or 1 when the centre is outside the image.
%
%   Rounding: per element, v = r/n is rounded to single, sat(v, s) is computed in double and
%   rounded to single, w*sat - b is formed in double and added to the single score, which is
%   rounded to single after every element; elements are added in order 1 ... elementCount.
%
%   Arguments (counts and sizes are rounded half up):
%     imageCount         real scalar, number of images (at least 0).                   read
%     imageRows          double array, at least imageCount entries: rows of image i
%                        at full resolution (at least 0).                               read
%     imageCols          double array, at least imageCount entries: columns (at
%                        least 0).                                                      read
%     orientCount        real scalar, number of orientations (at least 1).             read
%     poolStep           real scalar, pooling step in pixels (at least 1).             read
%     templateRows       real scalar, template height in pixels (at least 0).          read
%     templateCols       real scalar, template width in pixels (at least 0).           read
%     elementCount       real scalar, number of elements K (at least 0).               read
%     elementOrients     double array, at least K entries: each element's orientation,
%                        counted from 0, rounding into 0 ... orientCount-1.             read
%     elementRowOffsets  double array, at least K entries: row offset from the anchor
%                        in pooled units, any sign, rounding to a 32-bit integer.       read
%     elementColOffsets  double array, at least K entries: column offsets, likewise.   read
%     elementWeights     double array, at least K entries: weights w (not rounded).    read
%     elementBiases      double array, at least K entries: biases b (not rounded).     read
%     pooledMaps         cell array of at least imageCount*orientCount cells; cell
%                        {image + orient*imageCount + 1} (image and orient counted
%                        from 0) holds a single array of at least floor(rows/poolStep)*
%                        floor(cols/poolStep) values, column-major (as vindral writes). read
%     scoreMaps          cell array of at least imageCount cells; cell {image + 1}
%                        holds a single array of at least scoreRows*scoreCols values,
%                        column-major. Values beyond those are untouched.     ACCUMULATED IN PLACE
%     normalizerMaps     cell array of at least imageCount cells; cell {image + 1}
%                        holds a single array of at least rows*cols values (as
%                        brelind writes).                                               read
%     saturationLevel    real scalar s, used unrounded; finite and nonzero.            read
%
%   Arguments past the seventeenth are ignored.
%
%   Normalizer of 0: a normalizer value of exactly 0 at a centre inside the image is used as
%   1, so the responses of that placement are taken as they are instead of turning its score
%   into Inf or NaN. (brelind writes 1 wherever the local mean is 0, so its maps never hold 0.)
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Make each cell of scoreMaps its own fresh
%   array, for example with zeros(r, c, 'single') in a loop. Score maps that share data with
%   one another or with any other argument are refused with gastrel:sharedData.
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
%   gastrel:<reason> and whose message names the argument and its position:
%     tooFewArguments, tooManyOutputs (the call returns nothing), notScalar, outOfRange
%     (for example poolStep < 1, orientCount < 1, a negative templateRows, templateCols or
%     elementCount, an element orientation outside 0 ... orientCount-1, an offset beyond
%     32-bit integers, saturationLevel 0 or not finite), wrongClass, notCell, tooFewCells,
%     badCell (a cell that is not a real single array), tooFewValues (short element arrays
%     or maps), tooLarge (a score map of more than 2147483647 values, or rows*cols beyond
%     that), sharedData.
%   Messages count cells, images, orientations and entries from 1, as Octave indexes them:
%   cell 4 of a grid of 3 images is "cell 4 (image 1, orientation 2)", maps{1, 2}.
%
%   Example:
%     rows = 64; cols = 48; orientCount = 4; poolStep = 2;
%     pooled = cell(1, orientCount);
%     for o = 1:orientCount
%       pooled{o} = ones(floor(rows/poolStep), floor(cols/poolStep), 'single');
%     end
%     scores = {zeros(floor((20 + rows)/poolStep), floor((16 + cols)/poolStep), 'single')};
%     normalizers = {ones(rows, cols, 'single')};
%     gastrel(1, rows, cols, orientCount, poolStep, 20, 16, 3, [0 2 3], [1 5 9], [2 4 6], ...
%             [1 1 2], [0.1 0.1 0.2], pooled, scores, normalizers, 6);
%     best = zeros(1, 1, 'single'); anchorRow = zeros(1, 1); anchorCol = zeros(1, 1);
%     lurvane(1, rows, cols, poolStep, 20, 16, scores, best, anchorRow, anchorCol);
%     best                          % 4*6*tanh(1/6) - 0.4 = 3.5634: all three elements on
%                                   % the map, each adding w*6*tanh(1/6) - b
%
%   See also GASTRELBLOCK, LURVANE, VINDRAL, BRELIND.
