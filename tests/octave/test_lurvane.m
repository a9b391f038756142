% Tests of lurvane.mex, run by run_suite.m with the MEX folder on the path.

%!function [best, anchorRow, anchorCol] = search_reference(scores, rows, cols, poolStep, templateRows, templateCols)
%!  % The anchors rows outer and columns inner from single(-1e10), replacing only on a strictly
%!  % greater score; NaN anchors when nothing beat -1e10.
%!  rowsPooled = floor(templateRows / poolStep); colsPooled = floor(templateCols / poolStep);
%!  scoreRows = floor((templateRows + rows) / poolStep);
%!  best = single(-1e10); anchorRow = NaN; anchorCol = NaN;
%!  for i = 1 - rowsPooled:floor(rows / poolStep)
%!    for j = 1 - colsPooled:floor(cols / poolStep)
%!      v = scores((i + rowsPooled) + (j + colsPooled - 1) * scoreRows);
%!      if v > best
%!        best = v; anchorRow = i; anchorCol = j;
%!      endif
%!    endfor
%!  endfor
%!endfunction

%!test
%! % Random maps with ties, NaN and hopeless images, against the plain search.
%! rand('seed', 31);
%! rows = [11 7 9 1]; cols = [8 13 9 3]; poolStep = 2; templateRows = 5; templateCols = 4;
%! scores = cell(1, 4);
%! for image = 1:4
%!   n = floor((templateRows + rows(image)) / poolStep) * floor((templateCols + cols(image)) / poolStep);
%!   s = single(floor(rand(n, 1) * 6));
%!   s(rand(n, 1) < 0.2) = NaN;
%!   scores{image} = s;
%! endfor
%! scores{3}(:) = NaN;                       % nothing found
%! best = zeros(1, 5, 'single') + 9; anchorRows = zeros(1, 5) + 9; anchorCols = zeros(1, 5) + 8;
%! lurvane(4, rows, cols, poolStep, templateRows, templateCols, scores, best, anchorRows, anchorCols);
%! for image = 1:4
%!   [b, r, c] = search_reference(scores{image}, rows(image), cols(image), poolStep, templateRows, templateCols);
%!   assert(best(image), b);
%!   assert(isequaln([anchorRows(image), anchorCols(image)], [r, c]));
%! endfor
%! assert(isnan(anchorRows(3)) && best(3) == single(-1e10));
%! assert([double(best(5)), anchorRows(5), anchorCols(5)], [9 9 8]);  % past imageCount: untouched

%!test
%! % Score (1, 1) is anchor (-2, -2) and score (8, 8) anchor (5, 5); ties keep the smaller row,
%! % then the smaller column.
%! s = zeros(8, 8, 'single'); s(1, 1) = 3;
%! best = zeros(1, 'single'); r = zeros(1); c = zeros(1);
%! lurvane(1, 5, 5, 1, 3, 3, {s}, best, r, c);
%! assert([double(best), r, c], [3, -2, -2]);
%! s = zeros(8, 8, 'single'); s(8, 8) = 4; s(8, 7) = 4; s(7, 8) = 4;
%! lurvane(1, 5, 5, 1, 3, 3, {s}, best, r, c);
%! assert([double(best), r, c], [4, 4, 5]);

%!error <argument 10 \(anchorCols\) is missing> lurvane(1, 1, 1, 1, 0, 0, {single(1)}, single(0), 0)
%!error id=lurvane:tooManyOutputs x = lurvane(1, 1, 1, 1, 0, 0, {single(1)}, single(0), 0, 0);
%!error id=lurvane:outOfRange lurvane(1, 1, 1, 0, 0, 0, {single(1)}, single(0), 0, 0)
%!error id=lurvane:outOfRange lurvane(1, 1, 1, 1, -1, 0, {single(1)}, single(0), 0, 0)
%!error id=lurvane:wrongClass lurvane(1, 1, 1, 1, 0, 0, {single(1)}, 0, 0, 0)
%!error id=lurvane:wrongClass lurvane(1, 1, 1, 1, 0, 0, {single(1)}, single(0), single(0), 0)
%!error id=lurvane:tooFewValues lurvane(1, 2, 2, 1, 0, 0, {single([1 2 3])}, single(0), 0, 0)
%!error id=lurvane:tooLarge lurvane(1, 1, 1, 1, 2e9, 2e9, {single(1)}, single(0), 0, 0)
%!error id=lurvane:notCell lurvane(1, 1, 1, 1, 0, 0, single(1), single(0), 0, 0)
%!error <^lurvane: argument 7 \(scoreMaps\): expected a cell array of at least 1 cell; got a 1x0 cell array$> lurvane(1, 1, 1, 1, 0, 0, cell(1, 0), single(0), 0, 0)
%!error <^lurvane: argument 7 \(scoreMaps\): expected a cell array of at least 2 cells; got a 1x1 cell array$> lurvane(2, [1 1], [1 1], 1, 0, 0, {single(1)}, single([0 0]), [0 0], [0 0])

%!test
%! % A refused call writes nothing; outputs sharing data are refused.
%! best = zeros(1, 'single') + 7; r = zeros(1) + 7; c = zeros(1) + 6;
%! try
%!   lurvane(1, 2, 2, 1, 0, 0, {single([1 2 3])}, best, r, c);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'lurvane:tooFewValues');
%! end_try_catch
%! assert([double(best), r, c], [7 7 6]);
%! shared = r;
%! try
%!   lurvane(1, 2, 2, 1, 0, 0, {single([1 2 3 4])}, best, r, shared);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'lurvane:sharedData');
%! end_try_catch
%! assert([double(best), r, c], [7 7 6]);
%! lurvane(1, 2, 2, 1, 0, 0, {single([1 2 3 4])}, best, r, c);
%! assert([double(best), r, c], [4 2 2]);
