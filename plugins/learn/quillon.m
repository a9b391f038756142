% QUILLON  Learn a template of oriented elements shared by a set of training images.
%
%   quillon(orientCount, posShiftMax, orientShiftMax, unused, poolStep, elementCount, ...
%           imageCount, mapRows, mapCols, responseMaps, pooledMaps, traceMaps, filterHalf, ...
%           overlapTable, orientStamps, tableLength, weightTable, meanResponseTable, ...
%           biasTable, elementOrients, elementX, elementY, elementWeights, elementBiases, ...
%           imageScores, commonSketch, imageSketches)
%
%   Learns one element (an orientation at a pooled position) at a time. The pooled maps of
%   all images are first summed, per orientation and pooled position, over the candidate
%   window (below), in image order with single-precision rounding after each addition.
%   Then for element e = 0, 1, ... (at least one element, then while e < elementCount):
%     1. The largest sum is chosen, scanning pooled rows (outer), columns, then
%        orientations (inner); only a strictly larger sum wins, so ties go to the smallest
%        row, then column, then orientation, and NaN never wins.
%     2. The element is recorded: elementOrients(e+1) = its orientation (from 0),
%        elementX(e+1) and elementY(e+1) = its pooled row and column (from 1).
%     3. Its mean response m = sum/imageCount (single precision) gives its weight and bias:
%        with K = meanResponseTable(1:L), the search runs down from K(L) to the first key
%        K(j) <= m. For m >= K(L) (or NaN) the last weight and bias are copied; for
%        K(j) <= m < K(j+1) they are W(j) + (W(j+1) - W(j))*t and B(j) + (B(j+1) - B(j))*t
%        with t = single((m - K(j))/(K(j+1) - K(j))); for m < K(1) the first ones are
%        copied (see Choices).
%     4. commonSketch is max-stamped with orientStamps{orient+1}, scaled by sqrt(m) and
%        centred on pixel (x*poolStep, y*poolStep).
%     5. For every image in order, with r its pooled value at the element:
%        imageScores(image) += weight*r - bias (whatever r is). Where r > 0, the trace of
%        the element in that image gives the shifted orientation and pixel where the image
%        has it; its sketch is max-stamped there with the stamp of that orientation scaled
%        by sqrt(r), and the image is inhibited around that pixel: every response of
%        orientation b within 2*filterHalf rows and columns is multiplied by the factor of
%        overlapTable{a+1, b+1} (a the shifted orientation), and each pooled value whose
%        traced source met a factor of exactly 0 is searched again over the suppressed
%        responses, its trace rewritten and the sums updated by its change.
%     6. One line is printed: e, orientation, pooled row, pooled column and weight, as
%        "%d:  (orient = %d   x = %d   y = %d) --> %f".
%   The call returns nothing: its results are the written and accumulated arguments and
%   the printed lines. responseMaps, pooledMaps and traceMaps are left inhibited.
%
%   Candidate window: pooled rows (filterHalf+1)/poolStep + 1 + posShiftMax ...
%   (mapRows-filterHalf)/poolStep - 1 - posShiftMax, and likewise for columns, each
%   quotient truncated toward zero: the pooled positions whose shifted elements keep their
%   whole neighbourhood inside the maps. Sums, selection and re-pooling use only it.
%
%   Shift slots: a trace value k names slot k of orientation o: k = p*(2*orientShiftMax+1)
%   + q, where p and q stand for the position and orientation steps 0, -1, +1, -2, +2, ...;
%   position step d moves the pixel by floor(d*poolStep*cos(t) + 0.5) rows and
%   floor(d*poolStep*sin(t) + 0.5) columns, t = (3.1415926*o)/orientCount, and orientation
%   step s reads orientation mod(o + s, orientCount), as vindral writes them. Pass the
%   four shift parameters that vindral used.
%
%   Arguments (counts and sizes are rounded half up: 2.5 gives 3):
%     orientCount        real scalar, number of orientations (at least 1).           read
%     posShiftMax        real scalar, largest position step (at least 0).            read
%     orientShiftMax     real scalar, largest orientation step (0 ... orientCount-1). read
%     unused             real scalar, any value; it only holds its position.         read
%     poolStep           real scalar, pooled spacing and position unit (at least 1). read
%     elementCount       real scalar, elements to learn; 0 or less still learns one. read
%     imageCount         real scalar, number of training images (at least 1).        read
%     mapRows, mapCols   real scalars, the size of every full-resolution map (at
%                        least 0, at most 2147483647 values).                         read
%     responseMaps       cell array of at least imageCount*orientCount cells, cell
%                        {image + orient*imageCount + 1} (image, orient from 0; an
%                        imageCount x orientCount cell array works as
%                        maps{image+1, orient+1}) a single array of at least
%                        mapRows*mapCols values, column-major.  READ AND WRITTEN IN PLACE
%     pooledMaps         cell array laid out like responseMaps; single arrays of at
%                        least floor(mapRows/poolStep)*floor(mapCols/poolStep)
%                        values: vindral's pooled maxima.       READ AND WRITTEN IN PLACE
%     traceMaps          cell array laid out like pooledMaps: vindral's shift slots;
%                        inside the window every value must be a whole number from
%                        0 to (2*posShiftMax+1)*(2*orientShiftMax+1) - 1.
%                                                               READ AND WRITTEN IN PLACE
%     filterHalf         real scalar h, half width of the stamps (0 ... 11584).      read
%     overlapTable       cell array of at least orientCount^2 cells; cell
%                        {a + b*orientCount + 1} (an orientCount x orientCount cell
%                        array works as table{a+1, b+1}) a double array of at least
%                        (4h+1)^2 factors for orientation b around an element of
%                        orientation a, centred at (2h+1, 2h+1).                     read
%     orientStamps       cell array of at least orientCount cells, each a double
%                        array of at least (2h+1)^2 values centred at (h+1, h+1).    read
%     tableLength        real scalar L, entries used of each table (at least 1).     read
%     weightTable        double array, at least L entries.                           read
%     meanResponseTable  double array, at least L entries: finite, ascending (equal
%                        neighbours allowed).                                         read
%     biasTable          double array, at least L entries.                           read
%     elementOrients, elementX, elementY, elementWeights, elementBiases
%                        double arrays, each of at least max(elementCount, 1)
%                        entries: entry e+1 describes element e.           WRITTEN IN PLACE
%     imageScores        double array, at least imageCount entries; each element
%                        adds weight*r - bias to its image's entry.    ACCUMULATED IN PLACE
%     commonSketch       single array of at least mapRows*mapCols values; values
%                        only ever rise (pass zeros to start).   WRITTEN IN PLACE (max)
%     imageSketches      cell array of at least imageCount cells, each a single array
%                        of at least mapRows*mapCols values.     WRITTEN IN PLACE (max)
%
%   Arguments past the 27th are ignored.
%
%   Choices at the limits:
%     - Maps too small for filterHalf, posShiftMax and poolStep leave the candidate window
%       empty: no element can be chosen, and the call is refused with quillon:noCandidate.
%     - When the first selection finds no sum above -1e10 (all sums -1e10 or less, or
%       NaN), the call is refused with quillon:noCandidate and nothing is written. When a
%       later selection finds none, the previous element is kept and applied again.
%     - A mean response below meanResponseTable(1) takes the first weight and bias,
%       mirroring the copy of the last entry at the top of the table.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Every variable sharing the data of an
%   array the call writes sees the new values, so make each such array, and each cell of
%   the map and sketch grids, its own fresh array (zeros(r, c, 'single') in a loop). Arrays
%   the call writes that share data with any other argument are refused with
%   quillon:sharedData.
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
%   quillon:<reason> and whose message names the argument and its position:
%     tooFewArguments, tooManyOutputs (the call returns nothing), notScalar, outOfRange
%     (for example orientCount < 1, imageCount < 1, tableLength < 1, posShiftMax < 0,
%     orientShiftMax outside 0 ... orientCount-1, poolStep < 1, filterHalf outside
%     0 ... 11584, a meanResponseTable entry that is not finite or lies below the one
%     before, a trace value inside the window that is not a shift slot), wrongClass (maps
%     and sketches must be single; stamps, factors, tables, element outputs and
%     imageScores double), notCell, tooFewCells, badCell, tooFewValues, tooLarge
%     (mapRows*mapCols above 2147483647; more shift slots over all orientations,
%     orientCount*(2*posShiftMax+1)*(2*orientShiftMax+1), than 16777216, or than both 65536
%     and the number of values responseMaps holds, imageCount*orientCount*mapRows*mapCols;
%     posShiftMax*poolStep plus the larger of mapRows and mapCols above 2147483647),
%     sharedData, noCandidate (see Choices).
%   Messages count cells, images, orientations and entries from 1, as Octave indexes them:
%   cell 4 of a grid of 3 images is "cell 4 (image 1, orientation 2)", maps{1, 2}.
%
%   Example:
%     orientCount = 4; imageCount = 3; n = 40; poolStep = 2; h = 2;
%     responses = cell(imageCount, orientCount); pooled = responses; traces = responses;
%     for k = 1:numel(responses)
%       responses{k} = single(abs(randn(n)));
%       pooled{k} = zeros(n/poolStep, 'single'); traces{k} = zeros(n/poolStep, 'single');
%     end
%     vindral(imageCount, [n n n], [n n n], orientCount, 1, 1, poolStep, responses, pooled, traces);
%     overlap = cell(orientCount); stamps = cell(1, orientCount);
%     for k = 1:numel(overlap), overlap{k} = zeros(4*h+1); end
%     for k = 1:orientCount, stamps{k} = ones(2*h+1); end
%     count = 5; sketches = cell(1, imageCount);
%     for k = 1:imageCount, sketches{k} = zeros(n, 'single'); end
%     orients = zeros(1, count); x = zeros(1, count); y = zeros(1, count);
%     weights = zeros(1, count); biases = zeros(1, count);
%     scores = zeros(1, imageCount); common = zeros(n, 'single');
%     quillon(orientCount, 1, 1, 0, poolStep, count, imageCount, n, n, responses, pooled, ...
%             traces, h, overlap, stamps, 3, [0 1 2], [0 1 2], [0 0.5 1], orients, x, y, ...
%             weights, biases, scores, common, sketches);
%
%   See also VINDRAL.
