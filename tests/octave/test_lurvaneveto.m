% Tests of lurvaneveto.mex, run by run_suite.m with the MEX folder on the path.

%!test
%! % Three images of odd sizes at different factors from a 61 x 47 photo: each map becomes
%! % Octave's own rule-out (the box centres within the radius, squared with ^) of the map as
%! % changed, and each best what lurvane finds on it, whether the old best was ruled out, lay
%! % in the rescored block, or stood outside it. Coarse scores make ties common.
%! rand('seed', 11);
%! rows = [61 40 83]; cols = [47 31 64]; step = 2; tRows = 9; tCols = 7;
%! rowFactors = rows / 61; colFactors = cols / 47;
%! scoreRows = floor((tRows + rows) / step); scoreCols = floor((tCols + cols) / step);
%! tRowsPooled = floor(tRows / step); tColsPooled = floor(tCols / step);
%! for trial = 1:20
%!   scores = arrayfun(@(k) single(floor(rand(scoreRows(k), scoreCols(k)) * 6)), 1:3, ...
%!                     'UniformOutput', false);
%!   best = zeros(1, 3, 'single'); bestRows = zeros(1, 3); bestCols = zeros(1, 3);
%!   lurvane(3, rows, cols, step, tRows, tCols, scores, best, bestRows, bestCols);
%!   % The rescored block: around the best in odd trials, elsewhere in even ones.
%!   firstRows = bestRows - mod(trial, 2) * 2 + ~mod(trial, 2) * 6; lastRows = firstRows + 3;
%!   firstCols = bestCols - 1; lastCols = bestCols + 2;
%!   for k = 1:3
%!     r = (max(firstRows(k), 1 - tRowsPooled):min(lastRows(k), floor(rows(k) / step))) + tRowsPooled;
%!     c = (max(firstCols(k), 1 - tColsPooled):min(lastCols(k), floor(cols(k) / step))) + tColsPooled;
%!     scores{k}(r, c) = single(floor(rand(numel(r), numel(c)) * 6));
%!   end
%!   centre = [rand() * 61, rand() * 47]; radii = [4 + rand() * 10, 0, 9.5];
%!   expected = cellfun(@(m) m * 1, scores, 'UniformOutput', false);
%!   for k = find(radii > 0)
%!     centreRows = (((1:scoreRows(k))' - tRowsPooled) * step + (tRows + 1) / 2 - 0.5) / rowFactors(k) + 0.5;
%!     centreCols = (((1:scoreCols(k)) - tColsPooled) * step + (tCols + 1) / 2 - 0.5) / colFactors(k) + 0.5;
%!     expected{k}((centreRows - centre(1)).^2 + (centreCols - centre(2)).^2 < radii(k)^2) = -1e10;
%!   end
%!   expectedBest = zeros(1, 3, 'single'); expectedRows = zeros(1, 3); expectedCols = zeros(1, 3);
%!   lurvane(3, rows, cols, step, tRows, tCols, expected, expectedBest, expectedRows, expectedCols);
%!   lurvaneveto(3, rows, cols, step, tRows, tCols, scores, best, bestRows, bestCols, rowFactors, ...
%!               colFactors, centre(1), centre(2), radii, firstRows, lastRows, firstCols, lastCols);
%!   assert(isequal(scores, expected));
%!   assert(isequaln([best; bestRows; bestCols], [expectedBest; expectedRows; expectedCols]));
%! end

%!shared args
%! args = {1, 5, 5, 1, 3, 3, {single(magic(8))}, single(64), -2, -2, 1, 1, 0, 0, 1.5, NaN, ...
%!         NaN, NaN, NaN};
%!error <argument 19 \(lastAnchorCols\) is missing> lurvaneveto(args{1:18})
%!error id=lurvaneveto:outOfRange a = args; a{9} = 6; lurvaneveto(a{:})
%!error id=lurvaneveto:outOfRange a = args; a{11} = -1; lurvaneveto(a{:})
%!error id=lurvaneveto:outOfRange a = args; a{14} = Inf; lurvaneveto(a{:})
%!error id=lurvaneveto:sharedData a = args; a{10} = a{9}; lurvaneveto(a{:})
