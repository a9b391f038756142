% LURVANE  Find each image's best template placement in its score map.
%
%   lurvane(imageCount, imageRows, imageCols, poolStep, templateRows, templateCols, ...
%           scoreMaps, bestScores, anchorRows, anchorCols)
%
%   Searches every anchor of the score map that gastrel fills for the highest score, and
%   writes the score into bestScores(image) and the template anchor of that placement, in
%   pooled units, into anchorRows(image) and anchorCols(image). The anchor may be 0 or
%   negative near the top or left edge. The call returns nothing.
%
%   Search: anchor rows 1 - floor(templateRows/poolStep) ... floor(rows/poolStep) (outer)
%   and columns 1 - floor(templateCols/poolStep) ... floor(cols/poolStep) (inner); the
%   anchor (i, j) has the score at (i + floor(templateRows/poolStep), j +
%   floor(templateCols/poolStep)) of the floor((templateRows + rows)/poolStep) x
%   floor((templateCols + cols)/poolStep) column-major score map. The search starts at
%   single(-1e10) and takes a score only when strictly greater than the best so far, so among
%   equal highest scores the smallest anchor row wins, then the smallest column, and NaN is
%   passed over. Score rows or columns that belong to no anchor are not searched.
%
%   Nothing found: when no score of an image exceeds -1e10 (all NaN, all at most -1e10, or
%   no anchors at all), bestScores(image) is single(-1e10) and anchorRows(image) and
%   anchorCols(image) are NaN, so isnan(anchorRows(image)) tells that nothing was found.
%
%   Arguments (counts and sizes are rounded half up: 2.5 gives 3):
%     imageCount    real scalar, number of images (at least 0).                      read
%     imageRows     double array, at least imageCount entries: rows of image i at full
%                   resolution (at least 0).                                          read
%     imageCols     double array, at least imageCount entries: columns (at least 0).  read
%     poolStep      real scalar, pooling step in pixels (at least 1).                read
%     templateRows  real scalar, template height in pixels (at least 0).             read
%     templateCols  real scalar, template width in pixels (at least 0).              read
%     scoreMaps     cell array of at least imageCount cells; cell {image + 1} holds a
%                   single array of at least scoreRows*scoreCols values.              read
%     bestScores    single array, at least imageCount entries.             WRITTEN IN PLACE
%     anchorRows    double array, at least imageCount entries.             WRITTEN IN PLACE
%     anchorCols    double array, at least imageCount entries.             WRITTEN IN PLACE
%
%   Arguments past the tenth are ignored. Entries past imageCount are untouched.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Create bestScores, anchorRows and
%   anchorCols separately (zeros(1, n, 'single'), zeros(1, n) + 0, ...); outputs that share
%   data with each other or with a score map are refused with lurvane:sharedData.
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
%   lurvane:<reason> and whose message names the argument and its position:
%     tooFewArguments, tooManyOutputs (the call returns nothing), notScalar, outOfRange
%     (for example poolStep < 1, a negative templateRows or templateCols), wrongClass
%     (bestScores not single, anchorRows or anchorCols not double), notCell, tooFewCells,
%     badCell (a cell that is not a real single array), tooFewValues, tooLarge (a score map
%     of more than 2147483647 values), sharedData.
%   Messages count cells and entries from 1, as Octave indexes them.
%
%   Example:
%     scores = {single(magic(8))};                  % 5 x 5 image, 3 x 3 template, step 1
%     best = zeros(1, 1, 'single'); anchorRow = zeros(1, 1); anchorCol = zeros(1, 1);
%     lurvane(1, 5, 5, 1, 3, 3, scores, best, anchorRow, anchorCol);
%     [best, anchorRow, anchorCol]                  % 64 at score (1, 1): anchor (-2, -2)
%
%   See also GASTREL.
