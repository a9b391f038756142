% SOMVERTWIDE  Divide double-precision oriented response maps in place by their local mean.
%
%   somvertwide(mapRows, mapCols, orientCount, edgeMargin, halfWindowX, halfWindowY, ...
%               orientMaps, relativeFloor)
%
%   The orientCount maps of one image are divided, position by position, by the mean of all
%   their responses over a window of (2*halfWindowX+1) rows x (2*halfWindowY+1) columns
%   centred on the position. The divisor never falls below relativeFloor times the largest
%   window mean of the image, so regions weak everywhere are divided by that floor rather
%   than by their own small mean. Window centres keep edgeMargin + the half window from every
%   map edge (the interior); positions outside the interior use the divisor of the nearest
%   interior position. All window means are taken from the maps as they came in. The work
%   is done in double precision throughout (sums of orientations, running sums, means,
%   divisors, quotients); SOMVERT is the same for single-precision maps, and the two give
%   the same results up to the rounding of single precision. The call returns nothing: the
%   results are written into orientMaps.
%
%   Arguments (counts and sizes are rounded half up: 2.5 gives 3):
%     mapRows, mapCols  real scalars, the size of every map (at least 0; at most
%                       2147483647 values per map).                           read
%     orientCount       real scalar, number of maps (at least 1).            read
%     edgeMargin        real scalar, rows and columns at each map edge that
%                       no window covers (at least 0).                        read
%     halfWindowX       real scalar, half height of the window (at least 0). read
%     halfWindowY       real scalar, half width of the window (at least 0).  read
%     orientMaps        cell array of at least orientCount cells; cell {o}
%                       holds the map of orientation o-1: a double array of
%                       at least mapRows*mapCols values, column-major. Only
%                       the first mapRows*mapCols values change.   WRITTEN IN PLACE
%     relativeFloor     real scalar, used unrounded; must be finite.         read
%
%   Arguments past the eighth are ignored.
%
%   Choices at the limits:
%     - A map too small to hold one window (mapRows <= 2*(edgeMargin+halfWindowX) or
%       mapCols <= 2*(edgeMargin+halfWindowY)) is left unchanged.
%     - edgeMargin 0 is accepted: windows may then reach the map edge, the running sums
%       before the first row and column counting as zero.
%     - A position whose divisor is exactly 0 (for example relativeFloor 0 where the
%       responses cancel out) keeps its values, as if divided by 1, instead of becoming NaN
%       or infinite. Every other position divides as usual.
%     - A window whose mean is NaN is divided by relativeFloor times the largest mean.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Every variable sharing a map's data sees
%   the new values, so pass maps that no other variable shares: make each one fresh, for
%   example with abs(randn(...)) or x * 1. Cells that share one array (as
%   repmat({zeros(9)}, 1, 4) makes) are refused with somvertwide:sharedData.
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
%   somvertwide:<reason> (tooFewArguments, tooManyOutputs, notScalar, outOfRange, wrongClass,
%   notCell, tooFewCells, badCell, tooFewValues, tooLarge, sharedData, outOfMemory) and
%   whose message names the argument and its position. Single maps are refused
%   (somvertwide:badCell): use SOMVERT for them.
%   Messages count cells and entries from 1, as Octave indexes them.
%
%   Example:
%     maps = cell(1, 8);
%     for o = 1:8
%       maps{o} = abs(randn(64, 48));   % one fresh array per cell
%     end
%     somvertwide(64, 48, 8, 1, 5, 5, maps, 0.2);
%     mean(cellfun(@(m) mean(m(:)), maps))     % about 1: values over their local mean
%
%   See also SOMVERT, BRELIND.
