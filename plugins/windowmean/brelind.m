% BRELIND  Write each image's map of floored local means over a window and all orientations.
%
%   brelind(imageCount, imageRows, imageCols, orientCount, edgeMargin, responseMaps, ...
%           meanMaps, halfWindowX, halfWindowY, meanSwitch, relativeFloor)
%
%   For every image, meanMaps{i} receives at each position the mean of all the image's
%   responses over a window of (2*halfWindowX+1) rows x (2*halfWindowY+1) columns centred
%   on the position, raised to relativeFloor times the image's largest window mean where it
%   is lower. Window centres keep edgeMargin + the half window from every map edge (the
%   interior); positions outside the interior take the value of the nearest interior
%   position. The work is done in single precision exactly as SOMVERT does it, so each map
%   is the divisor somvert applies to the same image: dividing the image's responses by its
%   map gives bit for bit what somvert leaves in them. The responses are only read. The
%   call returns nothing: the results are written into meanMaps.
%
%   Note the argument order: edgeMargin comes fifth and the half windows eighth and ninth.
%
%   Arguments (counts and sizes are rounded half up: 2.5 gives 3):
%     imageCount    real scalar, number of images (at least 0).                read
%     imageRows     double array, at least imageCount entries: the rows of
%                   image i's maps (at least 0).                                  read
%     imageCols     double array, at least imageCount entries: the columns
%                   of image i's maps (at least 0).                               read
%     orientCount   real scalar, number of orientations (at least 1).          read
%     edgeMargin    real scalar, rows and columns at each map edge that no
%                   window covers (at least 0).                                   read
%     responseMaps  cell array of at least imageCount*orientCount cells; cell
%                   {image + orient*imageCount + 1} (image and orient counted
%                   from 0, so an imageCount x orientCount cell array works as
%                   responseMaps{image+1, orient+1}) holds a single array of
%                   at least imageRows(i)*imageCols(i) values, column-major.      read
%     meanMaps      cell array of at least imageCount cells; cell {i} holds a
%                   single array of at least imageRows(i)*imageCols(i) values
%                   whose first rows*cols values receive image i's map.
%                                                                    WRITTEN IN PLACE
%     halfWindowX   real scalar, half height of the window (at least 0).       read
%     halfWindowY   real scalar, half width of the window (at least 0).        read
%     meanSwitch    real scalar, used unrounded: below 0, every map is all
%                   ones (nothing is computed); 0 or above, no further effect.   read
%     relativeFloor real scalar, used unrounded; must be finite.               read
%
%   Arguments past the eleventh are ignored.
%
%   Choices at the limits:
%     - An image too small to hold one window (rows <= 2*(edgeMargin+halfWindowX) or
%       cols <= 2*(edgeMargin+halfWindowY)) gets a map of ones, so that dividing by it
%       changes nothing; the other images are computed as usual.
%     - edgeMargin 0 is accepted: windows may then reach the map edge, the running sums
%       before the first row and column counting as zero.
%     - A window whose mean is NaN takes relativeFloor times the largest mean.
%     - A position whose floored mean is exactly 0 (for example relativeFloor 0 where the
%       responses cancel out) gets 1, the divisor somvert then uses: dividing by the map
%       never makes NaN or infinities.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Every variable sharing an output's data
%   sees the new values, so pass outputs that no other variable shares: make each one fresh,
%   for example with zeros(rows, cols, 'single') in a loop. Cells that share one array (as
%   repmat({zeros(9, 'single')}, 1, 2) makes), or an output sharing a response map's data,
%   are refused with brelind:sharedData.
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
%   brelind:<reason> (tooFewArguments, tooManyOutputs, notScalar, outOfRange, wrongClass,
%   notCell, tooFewCells, badCell, tooFewValues, tooLarge, sharedData, outOfMemory) and
%   whose message names the argument and its position.
%   Messages count cells, images, orientations and entries from 1, as Octave indexes them:
%   cell 4 of a grid of 3 images is "cell 4 (image 1, orientation 2)", maps{1, 2}.
%
%   Example:
%     responses = cell(2, 8);                          % 2 images, 8 orientations
%     for k = 1:numel(responses)
%       responses{k} = single(abs(randn(64, 48)));
%     end
%     means = {zeros(64, 48, 'single'), zeros(64, 48, 'single')};
%     brelind(2, [64 64], [48 48], 8, 1, responses, means, 5, 5, 0, 0.2);
%     maps = responses(1, :);
%     for o = 1:8, maps{o} = maps{o} * 1; end          % copies with data of their own
%     somvert(64, 48, 8, 1, 5, 5, maps, 0.2);          % image 1 normalized in place
%     isequal(maps{3}, responses{1, 3} ./ means{1})    % 1: means{1} is somvert's divisor
%
%   See also SOMVERT.
