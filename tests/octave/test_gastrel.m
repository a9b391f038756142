% Tests of gastrel.mex, run by run_suite.m with the MEX folder on the path.

%!function scores = score_reference(scores, rows, cols, orientCount, poolStep, templateRows, templateCols, orients, rowOffsets, colOffsets, weights, biases, pooled, normalizers, s)
%!  % Every anchor on its own, rows outer and columns inner; the normalizer at the centre pixel
%!  % (1 outside the image or where it holds 0); elements in order, each term formed in double
%!  % and the score rounded to single after every element.
%!  imageCount = numel(rows);
%!  rowsPooled = floor(templateRows / poolStep); colsPooled = floor(templateCols / poolStep);
%!  centerRow = floor((templateRows / 2) / poolStep); centerCol = floor((templateCols / 2) / poolStep);
%!  orients = floor(orients + 0.5); rowOffsets = floor(rowOffsets + 0.5); colOffsets = floor(colOffsets + 0.5);
%!  for image = 1:imageCount
%!    pooledRows = floor(rows(image) / poolStep); pooledCols = floor(cols(image) / poolStep);
%!    scoreRows = floor((templateRows + rows(image)) / poolStep);
%!    for i = 1 - rowsPooled:pooledRows
%!      for j = 1 - colsPooled:pooledCols
%!        q = (i + rowsPooled) + (j + colsPooled - 1) * scoreRows;
%!        cx = (i + centerRow) * poolStep; cy = (j + centerCol) * poolStep;
%!        n = single(1);
%!        if cx >= 1 && cx <= rows(image) && cy >= 1 && cy <= cols(image)
%!          n = normalizers{image}(cx + (cy - 1) * rows(image));
%!          if n == 0
%!            n = single(1);
%!          endif
%!        endif
%!        score = scores{image}(q);
%!        for k = 1:numel(orients)
%!          x = i + rowOffsets(k); y = j + colOffsets(k);
%!          if x >= 1 && x <= pooledRows && y >= 1 && y <= pooledCols
%!            v = pooled{image, orients(k) + 1}(x + (y - 1) * pooledRows) / n;
%!            t = single(s * ((2 / (exp((-2 * double(v)) / s) + 1)) - 1));
%!            score = single(double(score) + (weights(k) * double(t) - biases(k)));
%!          else
%!            score = single(double(score) - biases(k));
%!          endif
%!        endfor
%!        scores{image}(q) = score;
%!      endfor
%!    endfor
%!  endfor
%!endfunction

%!function [pooled, scores, normalizers] = random_maps(rows, cols, orientCount, poolStep, templateRows, templateCols, spare)
%!  % Pooled responses with NaN and -0, nonzero start scores with `spare` values past each
%!  % score map, and normalizers with some exact zeros; each array allocated on its own.
%!  imageCount = numel(rows);
%!  pooled = cell(imageCount, orientCount);
%!  for k = 1:numel(pooled)
%!    image = mod(k - 1, imageCount) + 1;
%!    p = single(randn(floor(rows(image) / poolStep), floor(cols(image) / poolStep)) * 3);
%!    p(rand(size(p)) < 0.05) = NaN;
%!    p(rand(size(p)) < 0.05) = -0;
%!    pooled{k} = p;
%!  endfor
%!  scores = cell(1, imageCount); normalizers = scores;
%!  for image = 1:imageCount
%!    n = floor((templateRows + rows(image)) / poolStep) * floor((templateCols + cols(image)) / poolStep);
%!    scores{image} = single(randn(n + spare, 1) * 10);
%!    m = single(0.25 + rand(rows(image), cols(image)) * 3);
%!    m(rand(size(m)) < 0.1) = 0;
%!    normalizers{image} = m;
%!  endfor
%!endfunction

%!test
%! % Random calls of several images and sizes, bit for bit like the plain loop; values past
%! % each score map, the pooled maps and the normalizers stay as they were.
%! randn('seed', 21); rand('seed', 22);
%! configs = {[11 7 2], [9 12 5], 3, 2, 6, 5, 7;
%!            [8.5 5], [6 10.49], 2, 1, 3, 3, 5;      % sizes round half up: 9 x 6, 5 x 10
%!            [13 10], [10 14], 4, 3, 10, 7, 9};
%! for c = 1:rows(configs)
%!   [rowsGiven, colsGiven, orientCount, poolStep, templateRows, templateCols, K] = configs{c, :};
%!   r = floor(rowsGiven + 0.5); cl = floor(colsGiven + 0.5);
%!   [pooled, scores, normalizers] = random_maps(r, cl, orientCount, poolStep, templateRows, templateCols, 2);
%!   reach = floor(templateRows / poolStep) + 3;
%!   orients = randi([0, orientCount - 1], 1, K);
%!   rowOffsets = randi([-reach, reach], 1, K) - 0.5 * randi([0 1], 1, K);
%!   colOffsets = randi([-reach, reach], 1, K);
%!   colOffsets(1) = 2e9;                             % far outside every map: bias only
%!   weights = randn(1, K) + 1e-9; biases = rand(1, K) * 0.5 + 1e-10;
%!   s = 2.5;
%!   before = unshared(scores); pooledBefore = unshared(pooled); normalizersBefore = unshared(normalizers);
%!   expected = score_reference(before, r, cl, orientCount, poolStep, templateRows, templateCols, ...
%!                              orients, rowOffsets, colOffsets, weights, biases, pooled, normalizers, s);
%!   gastrel(numel(r), rowsGiven, colsGiven, orientCount, poolStep, templateRows, templateCols, K, ...
%!           orients, rowOffsets, colOffsets, weights, biases, pooled, scores, normalizers, s);
%!   for image = 1:numel(r)
%!     assert(isequal(typecast(scores{image}, 'uint32'), typecast(expected{image}, 'uint32')), ...
%!            'config %d, image %d: scores differ', c, image);
%!   endfor
%!   assert(isequaln(pooled, pooledBefore));
%!   assert(isequaln(normalizers, normalizersBefore));
%! endfor

%!test
%! % poolStep 1, a 3 x 3 template and a 5 x 5 image: an 8 x 8 score map, whose position (1, 1)
%! % belongs to anchor (-2, -2); an element at offset (2, 2) reaches pooled (0, 0) there, outside.
%! p = single(reshape(1:25, 5, 5));
%! scores = {zeros(8, 8, 'single')};
%! gastrel(1, 5, 5, 1, 1, 3, 3, 1, 0, 2, 2, 1, 0.5, {p}, scores, {ones(5, 'single')}, 100);
%! assert(scores{1}(1, 1), single(-0.5));
%! assert(scores{1}(2, 2), single(100 * tanh(1 / 100) - 0.5), 1e-5);   % anchor (-1, -1) reads (1, 1)
%! assert(scores{1}(6, 6), single(100 * tanh(25 / 100) - 0.5), 1e-5);  % anchor (3, 3) reads (5, 5)

%!test
%! % A normalizer of 0 is used as 1: the same scores as with a map of ones.
%! p = {single(magic(4) - 8)};
%! a = {zeros(6, 6, 'single')}; b = {zeros(6, 6, 'single')};
%! gastrel(1, 8, 8, 1, 2, 4, 4, 2, [0 0], [0 1], [1 -1], [1 2], [0.1 0.2], p, a, {zeros(8, 'single')}, 3);
%! gastrel(1, 8, 8, 1, 2, 4, 4, 2, [0 0], [0 1], [1 -1], [1 2], [0.1 0.2], p, b, {ones(8, 'single')}, 3);
%! assert(a, b);
%! assert(all(isfinite(a{1}(:))));

%!error <argument 17 \(saturationLevel\) is missing> gastrel(1, 1, 1, 1, 1, 0, 0, 0, [], [], [], [], [], {single(1)}, {single(1)}, {single(1)})
%!error id=gastrel:tooManyOutputs x = gastrel(1, 1, 1, 1, 1, 0, 0, 0, [], [], [], [], [], {single(1)}, {single(1)}, {single(1)}, 1);
%!error id=gastrel:outOfRange gastrel(1, 1, 1, 1, 0, 0, 0, 0, [], [], [], [], [], {single(1)}, {single(1)}, {single(1)}, 1)
%!error id=gastrel:outOfRange gastrel(1, 1, 1, 1, 1, -1, 0, 0, [], [], [], [], [], {single(1)}, {single(1)}, {single(1)}, 1)
%!error id=gastrel:outOfRange gastrel(1, 1, 1, 2, 1, 0, 0, 1, 2, 0, 0, 1, 0, {single(1), single(1)}, {single(1)}, {single(1)}, 1)
%!error id=gastrel:outOfRange gastrel(1, 1, 1, 1, 1, 0, 0, 1, 0, 3e9, 0, 1, 0, {single(1)}, {single(1)}, {single(1)}, 1)
%!error id=gastrel:outOfRange gastrel(1, 1, 1, 1, 1, 0, 0, 0, [], [], [], [], [], {single(1)}, {single(1)}, {single(1)}, 0)
%!error id=gastrel:tooFewValues gastrel(1, 1, 1, 1, 1, 0, 0, 2, [0 0], [0 0], [0 0], [1 1], 0, {single(1)}, {single(1)}, {single(1)}, 1)
%!error id=gastrel:tooLarge gastrel(1, 1, 1, 1, 1, 2e9, 2e9, 0, [], [], [], [], [], {single(1)}, {single(1)}, {single(1)}, 1)
%!error id=gastrel:badCell gastrel(1, 1, 1, 1, 1, 0, 0, 0, [], [], [], [], [], {1}, {single(1)}, {single(1)}, 1)
%!error id=gastrel:tooFewCells gastrel(2, [1 1], [1 1], 1, 1, 0, 0, 0, [], [], [], [], [], {single(1), single(1)}, {single(1)}, {single(1), single(1)}, 1)

%!test
%! % A refused call leaves the score maps unchanged; score maps sharing data are refused.
%! scores = {zeros(4, 4, 'single') + 7};
%! p = {single([1 2; 3 4])};
%! try
%!   gastrel(1, 4, 4, 1, 2, 4, 4, 1, 1, 0, 0, 1, 1, p, scores, {ones(4, 'single')}, 1);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'gastrel:outOfRange');
%!   assert(strfind(err.message, 'argument 9 (elementOrients), entry 1'));
%! end_try_catch
%! assert(scores{1}, zeros(4, 4, 'single') + 7);
%! shared = [scores, scores];
%! try
%!   gastrel(2, [4 4], [4 4], 1, 2, 4, 4, 1, 0, 0, 0, 1, 1, [p, p], shared, {ones(4, 'single'), ones(4, 'single')}, 1);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'gastrel:sharedData');
%! end_try_catch
%! assert(scores{1}, zeros(4, 4, 'single') + 7);
%! gastrel(1, 4, 4, 1, 2, 4, 4, 1, 0, 0, 0, 1, 1, p, scores, {ones(4, 'single')}, 1);
%! assert(scores{1}(2, 2), single(6));                        % anchor (0, 0): element outside
%! assert(scores{1}(3, 3), single(7 + tanh(1) - 1), 1e-6);    % anchor (1, 1) reads 1
