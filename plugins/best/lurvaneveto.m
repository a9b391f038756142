% LURVANEVETO  Rule out the placements near a detection and bring each image's best up to date.
%
%   lurvaneveto(imageCount, imageRows, imageCols, poolStep, templateRows, templateCols, ...
%               scoreMaps, bestScores, anchorRows, anchorCols, rowFactors, colFactors, ...
%               detectionRow, detectionCol, exclusionRadii, firstAnchorRows, ...
%               lastAnchorRows, firstAnchorCols, lastAnchorCols)
%
%   The step a search for several detections makes after each one, once the detection's
%   inhibition has changed the maps and the placements it reached have been scored again
%   (GASTRELBLOCK). The images are copies of one photo at several sizes: image i has
%   rowFactors(i) times the photo's rows and colFactors(i) times its columns, so that its
%   pixel u lies at photo pixel (u - 0.5) / factor + 0.5. The first ten arguments are
%   LURVANE's, with its geometry, rounding and refusals; on entry bestScores, anchorRows and
%   anchorCols must hold each image's best as LURVANE found it before the detection's
%   changes.
%
%   1. Ruling out: in each image with exclusionRadii(i) > 0, every placement whose box centre
%      in photo pixels,
%          rowCentre = ((rho - floor(templateRows/poolStep)) * poolStep + ...
%                       (templateRows + 1)/2 - 0.5) / rowFactors(i) + 0.5
%      for score row rho (likewise for columns), lies strictly within the radius of
%      (detectionRow, detectionCol),
%          (rowCentre - detectionRow)^2 + (colCentre - detectionCol)^2 < exclusionRadii(i)^2,
%      gets the score single(-1e10), which no search takes again. Every step is rounded in
%      double as those expressions are in Octave (the radius squared with the scalar power).
%   2. Bests: the scores changed only there and inside each image's block of anchors
%      firstAnchorRows(i) ... lastAnchorRows(i) x firstAnchorCols(i) ... lastAnchorCols(i)
%      (rounded half up, clipped to the image's anchors, NaN for none, as GASTRELBLOCK reads
%      them). Where the best was ruled out, or lies inside the block, the whole map is
%      searched again as LURVANE searches it; otherwise the block's best placement, in
%      LURVANE's order, takes the best's place when it has a higher score, or an equal score
%      at a smaller anchor row, then column. Either way each image's outputs are what LURVANE
%      would now find on the whole map.
%   The call returns nothing.
%
%   Arguments (besides LURVANE's ten):
%     scoreMaps        as for LURVANE; placements near the detection are ruled out.
%                                                                      WRITTEN IN PLACE
%     bestScores       as for LURVANE, holding each image's best on entry.  WRITTEN IN PLACE
%     anchorRows       as for LURVANE; on entry NaN (nothing found) or a whole number within
%     anchorCols       the image's anchors, both NaN or neither.            WRITTEN IN PLACE
%     rowFactors       double array, at least imageCount entries: each image's rows over the
%     colFactors       photo's, columns likewise; finite and positive.                read
%     detectionRow     real scalar, finite: the detection's box centre, photo pixels. read
%     detectionCol     real scalar, finite.                                           read
%     exclusionRadii   double array, at least imageCount entries: the radius in photo pixels
%                      within which each image's placements are ruled out; none where it is
%                      not positive (NaN included).                                  read
%     firstAnchorRows  double arrays, at least imageCount entries each: the bounds of each
%     lastAnchorRows   image's block of anchors scored again, pooled units, any sign, or
%     firstAnchorCols  NaN.                                                          read
%     lastAnchorCols
%
%   Arguments past the nineteenth are ignored.
%
%   Threads: the anchor columns of the maps searched again are shared among OpenMP threads
%   (OMP_NUM_THREADS, by default one per core), and the pieces' bests joined in LURVANE's
%   order, so the result is the one-thread result; ruling out and the blocks are done on one
%   thread.
%
%   IN-PLACE WARNING: as for LURVANE, make each output and each score map its own array;
%   arrays written that share data with one another or with any other argument are refused
%   with lurvaneveto:sharedData.
%
%   A malformed call is refused before any value changes, with an error whose identifier is
%   lurvaneveto:<reason> (LURVANE's reasons; a best that is no anchor of its image, a factor
%   not finite and positive or a detection centre not finite is outOfRange) and whose
%   message names the argument and its position. Messages count cells and entries from 1.
%
%   Example:
%     scores = {single(magic(8))};                  % 5 x 5 image, 3 x 3 template, step 1
%     best = zeros(1, 1, 'single'); anchorRow = zeros(1, 1); anchorCol = zeros(1, 1);
%     lurvane(1, 5, 5, 1, 3, 3, scores, best, anchorRow, anchorCol);
%     % a detection centred on the best placement's box (photo = image): rule out 1.5 px
%     % around it; no block was scored again
%     lurvaneveto(1, 5, 5, 1, 3, 3, scores, best, anchorRow, anchorCol, 1, 1, 0, 0, ...
%                 1.5, NaN, NaN, NaN, NaN);
%     printf('next best %g at anchor (%d, %d)\n', best, anchorRow, anchorCol);
%
%   See also LURVANE, GASTRELBLOCK, TARROWVETO.
