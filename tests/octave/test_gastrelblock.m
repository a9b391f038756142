% Tests of gastrelblock.mex, run by run_suite.m with the MEX folder on the path.

%!test
%! % Two images of odd sizes: each block becomes what gastrel scores into zero maps, a
%! % ruled-out placement (-1e10) in it stays, and every score outside the blocks keeps its
%! % bits; an image with NaN bounds is left alone, and infinite bounds reach the edges.
%! randn('seed', 7); rand('seed', 8);
%! rows = [23 30]; cols = [19 27]; step = 2; tRows = 10; tCols = 8;
%! pooled = arrayfun(@(k) single(abs(randn(floor(rows(mod(k - 1, 2) + 1) / step), ...
%!                                           floor(cols(mod(k - 1, 2) + 1) / step)))), 1:6, ...
%!                   'UniformOutput', false);
%! pooled = reshape(pooled, 2, 3);
%! normalizers = {single(0.5 + rand(23, 19)), single(0.5 + rand(30, 27))};
%! scoreSizes = floor([tRows + rows; tCols + cols]' / step);
%! args = {2, rows, cols, 3, step, tRows, tCols, 4, [0 1 2 1], [0 2 4 -1], [1 3 0 5], ...
%!         [1 0.5 2 1.5], [0.1 0.2 0.05 0.3], pooled};
%! fresh = {zeros(scoreSizes(1, :), 'single'), zeros(scoreSizes(2, :), 'single')};
%! gastrel(args{:}, fresh, normalizers, 2.5);
%! scores = {single(rand(scoreSizes(1, :))), single(rand(scoreSizes(2, :)))};
%! scores{1}(8, 6) = -1e10;                    % anchor (3, 2) of image 1, inside its block
%! before = scores;
%! gastrelblock(args{:}, scores, normalizers, 2.5, [2.5 NaN], [5 9], [-Inf 1], [2 Inf]);
%! expected = before{1};
%! block = expected(8:10, 1:6);               % anchors 3..5 x -3..2 (rows + 5, cols + 4)
%! inBlock = fresh{1}(8:10, 1:6);
%! block(block ~= single(-1e10)) = inBlock(block ~= single(-1e10));
%! expected(8:10, 1:6) = block;
%! assert(isequal(typecast(scores{1}(:), 'uint32'), typecast(expected(:), 'uint32')));
%! assert(scores{1}(8, 6), single(-1e10));
%! assert(isequal(scores{2}, before{2}));

%!shared args
%! args = {1, 12, 10, 1, 2, 4, 4, 1, 0, 0, 0, 1, 0, {ones(6, 5, 'single')}, ...
%!         {zeros(8, 7, 'single')}, {ones(12, 10, 'single')}, 1.5, 1, 2, 1, 2};
%!error <argument 21 \(lastAnchorCols\) is missing> gastrelblock(args{1:20})
%!error id=gastrelblock:tooFewValues a = args; a{18} = []; gastrelblock(a{:})
%!error id=gastrelblock:wrongClass a = args; a{21} = single(2); gastrelblock(a{:})
%!error id=gastrelblock:sharedData a = args; a{15} = a{16}; gastrelblock(a{:})
