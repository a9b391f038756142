% Tests of quillon.mex, run by run_suite.m with the MEX folder on the path.

%!function c = learning_case(imageCount, rows, cols, elementCount, overlapValue)
%!  % Positive random responses pooled by vindral (4 orientations, shifts 1/1, step 2), stamp
%!  % of orientation o filled with o + 1, every overlap factor overlapValue, tables
%!  % K = [0 5 10 40], W = 2K, B = K/2; every output a fresh array.
%!  c.orientCount = 4; c.posShiftMax = 1; c.orientShiftMax = 1; c.poolStep = 2; c.h = 2;
%!  c.imageCount = imageCount; c.rows = rows; c.cols = cols; c.elementCount = elementCount;
%!  c.responses = cell(imageCount, c.orientCount);
%!  c.pooled = c.responses; c.traces = c.responses;
%!  for k = 1:numel(c.responses)
%!    c.responses{k} = single(abs(randn(rows, cols)) * 2);
%!    c.pooled{k} = zeros(floor(rows / 2), floor(cols / 2), 'single');
%!    c.traces{k} = zeros(floor(rows / 2), floor(cols / 2), 'single');
%!  endfor
%!  vindral(imageCount, repmat(rows, 1, imageCount), repmat(cols, 1, imageCount), c.orientCount, ...
%!          c.posShiftMax, c.orientShiftMax, c.poolStep, c.responses, c.pooled, c.traces);
%!  c.overlap = cell(c.orientCount);
%!  for k = 1:numel(c.overlap)
%!    c.overlap{k} = zeros(4 * c.h + 1) + overlapValue;
%!  endfor
%!  c.stamps = cell(1, c.orientCount);
%!  for o = 1:c.orientCount
%!    c.stamps{o} = zeros(2 * c.h + 1) + o;
%!  endfor
%!  c.K = [0 5 10 40]; c.W = 2 * c.K; c.B = c.K / 2;
%!  n = max(elementCount, 1);
%!  c.orients = zeros(1, n); c.x = zeros(1, n); c.y = zeros(1, n);
%!  c.weights = zeros(1, n); c.biases = zeros(1, n);
%!  c.scores = zeros(1, imageCount);
%!  c.common = zeros(rows, cols, 'single');
%!  c.sketches = cell(1, imageCount);
%!  for i = 1:imageCount
%!    c.sketches{i} = zeros(rows, cols, 'single');
%!  endfor
%!endfunction

%!function printed = learn(c)
%!  printed = evalc(['quillon(c.orientCount, c.posShiftMax, c.orientShiftMax, 0, c.poolStep, ', ...
%!                   'c.elementCount, c.imageCount, c.rows, c.cols, c.responses, c.pooled, c.traces, ', ...
%!                   'c.h, c.overlap, c.stamps, numel(c.K), c.W, c.K, c.B, c.orients, c.x, c.y, ', ...
%!                   'c.weights, c.biases, c.scores, c.common, c.sketches);']);
%!endfunction

%!function [lo, rowHi, colHi] = window_of(c)
%!  lo = fix((c.h + 1) / c.poolStep) + 1 + c.posShiftMax;
%!  rowHi = fix((c.rows - c.h) / c.poolStep) - 1 - c.posShiftMax;
%!  colHi = fix((c.cols - c.h) / c.poolStep) - 1 - c.posShiftMax;
%!endfunction

%!function [best, orient, row, col] = first_choice(c)
%!  % Sums over images in order in single precision; the first strictly largest in the scan
%!  % row, column, orientation.
%!  [lo, rowHi, colHi] = window_of(c);
%!  best = single(-1e10);
%!  for px = lo:rowHi
%!    for py = lo:colHi
%!      for o = 0:c.orientCount - 1
%!        s = single(0);
%!        for i = 1:c.imageCount
%!          s = s + c.pooled{i, o + 1}(px, py);
%!        endfor
%!        if s > best
%!          best = s; orient = o; row = px; col = py;
%!        endif
%!      endfor
%!    endfor
%!  endfor
%!endfunction

%!function [os, xs, ys] = found_at(c, i, orient, row, col)
%!  % The shifted orientation and pixel that image i's trace names at the element.
%!  s = double(c.traces{i, orient + 1}(row, col));
%!  width = 2 * c.orientShiftMax + 1;
%!  stepOf = @(index) (mod(index, 2) == 1) * -(index + 1) / 2 + (mod(index, 2) == 0) * index / 2;
%!  d = stepOf(floor(s / width));
%!  e = stepOf(mod(s, width));
%!  theta = (3.1415926 * orient) / c.orientCount;
%!  m = d * c.poolStep;
%!  xs = row * c.poolStep + floor(m * cos(theta) + 0.5);
%!  ys = col * c.poolStep + floor(m * sin(theta) + 0.5);
%!  os = mod(orient + e, c.orientCount);
%!endfunction

%!function block = square_around(x, y, reach, rows, cols)
%!  block = false(rows, cols);
%!  block(max(1, x - reach):min(rows, x + reach), max(1, y - reach):min(cols, y + reach)) = true;
%!endfunction

%!test
%! % One element from three images, with every overlap factor 0: the element is the largest
%! % sum, each image is drawn and wiped out around the place its trace names, and exactly the
%! % pooled values whose source was wiped out are searched again.
%! randn('seed', 21);
%! c = learning_case(3, 30, 28, 1, 0);
%! before = c;
%! before.responses = unshared(c.responses);
%! before.pooled = unshared(c.pooled);
%! before.traces = unshared(c.traces);
%! printed = learn(c);
%! [best, orient, row, col] = first_choice(before);
%! m = best / single(3);
%! j = find(c.K <= m, 1, 'last');
%! t = single((double(m) - c.K(j)) / (c.K(j + 1) - c.K(j)));
%! w = c.W(j) + (c.W(j + 1) - c.W(j)) * double(t);
%! b = c.B(j) + (c.B(j + 1) - c.B(j)) * double(t);
%! assert([c.orients, c.x, c.y], [orient, row, col]);
%! assert([c.weights, c.biases], [w, b]);
%! assert(printed, sprintf('0:  (orient = %d   x = %d   y = %d) --> %f\n', orient, row, col, w));
%! common = zeros(30, 28, 'single');
%! common(square_around(row * 2, col * 2, c.h, 30, 28)) = single((orient + 1) * sqrt(double(m)));
%! assert(isequal(c.common, common));
%! [lo, rowHi, colHi] = window_of(c);
%! for i = 1:3
%!   r = before.pooled{i, orient + 1}(row, col);
%!   assert(c.scores(i), w * double(r) - b);
%!   [os, xs, ys] = found_at(before, i, orient, row, col);
%!   sketch = zeros(30, 28, 'single');
%!   sketch(square_around(xs, ys, c.h, 30, 28)) = single((os + 1) * sqrt(double(r)));
%!   assert(isequal(c.sketches{i}, sketch));
%!   wiped = square_around(xs, ys, 2 * c.h, 30, 28);
%!   suppressed = before.responses(i, :);
%!   for o = 1:4
%!     suppressed{o}(wiped) = 0;
%!     assert(isequal(c.responses{i, o}, suppressed{o}));
%!   endfor
%!   % The same responses pooled afresh give every value that was searched again.
%!   repooled = {zeros(15, 14, 'single'), zeros(15, 14, 'single'), zeros(15, 14, 'single'), zeros(15, 14, 'single')};
%!   retraced = unshared(repooled);
%!   vindral(1, 30, 28, 4, 1, 1, 2, unshared(suppressed), repooled, retraced);
%!   rowRange = max(lo, fix((xs - 2 * c.h) / 2) - 1 + 1):min(rowHi, fix((xs + 2 * c.h) / 2) + 1);
%!   colRange = max(lo, fix((ys - 2 * c.h) / 2) - 1 + 1):min(colHi, fix((ys + 2 * c.h) / 2) + 1);
%!   for o = 0:3
%!     pooled = before.pooled{i, o + 1};
%!     traces = before.traces{i, o + 1};
%!     for px = rowRange
%!       for py = colRange
%!         [~, sx, sy] = found_at(before, i, o, px, py);
%!         if wiped(sx, sy)
%!           pooled(px, py) = repooled{o + 1}(px, py);
%!           traces(px, py) = retraced{o + 1}(px, py);
%!         endif
%!       endfor
%!     endfor
%!     assert(isequal(c.pooled{i, o + 1}, pooled), 'image %d, orientation %d: pooled maps differ', i, o);
%!     assert(isequal(c.traces{i, o + 1}, traces), 'image %d, orientation %d: traces differ', i, o);
%!   endfor
%! endfor

%!test
%! % Several elements: one printed line per element, matching what was recorded; with no
%! % suppression at all (factors 1) the first element is learned again and again.
%! randn('seed', 22);
%! c = learning_case(2, 26, 30, 4, 0);
%! printed = learn(c);
%! expected = sprintf('%d:  (orient = %d   x = %d   y = %d) --> %f\n', ...
%!                    [0:3; c.orients; c.x; c.y; c.weights]);
%! assert(printed, expected);
%! assert(numel(unique(c.x + 100 * c.y + 10000 * c.orients)), 4);
%! c = learning_case(2, 26, 30, 3, 1);
%! printed = learn(c);
%! assert(numel(strsplit(strtrim(printed), "\n")), 3);
%! assert(c.orients == c.orients(1) & c.x == c.x(1) & c.y == c.y(1) & c.weights == c.weights(1));

%!test
%! % An element count of 0 still learns one element; a mean below the first key takes the
%! % first weight and bias.
%! randn('seed', 23);
%! c = learning_case(1, 20, 20, 0, 0);
%! c.K = [100 200]; c.W = [5 6]; c.B = [0.25 1];
%! printed = learn(c);
%! assert(printed(1:3), '0: ');
%! assert([c.weights, c.biases], [5, 0.25]);

%!function args = small_call()
%!  % A valid call: one image of 12 x 12, 2 orientations, no shifts, step 1, h 1.
%!  overlap = {ones(5), ones(5); ones(5), ones(5)};
%!  args = {2, 0, 0, 0, 1, 1, 1, 12, 12, {rand(12, 'single'), rand(12, 'single')}, ...
%!          {rand(12, 'single'), rand(12, 'single')}, {zeros(12, 'single'), zeros(12, 'single')}, ...
%!          1, overlap, {ones(3), ones(3)}, 3, [0 10 20], [0 1 2], [0 1 4], zeros(1), zeros(1), ...
%!          zeros(1), zeros(1), zeros(1), zeros(1), ...
%!          zeros(12, 'single'), {zeros(12, 'single')}};
%!endfunction

%!error <argument 27 \(imageSketches\) is missing> a = small_call(); quillon(a{1:26})
%!error id=quillon:tooManyOutputs a = small_call(); x = quillon(a{:});
%!error id=quillon:outOfRange a = small_call(); a{7} = 0; quillon(a{:})
%!error id=quillon:outOfRange a = small_call(); a{16} = 0; quillon(a{:})
%!error id=quillon:outOfRange a = small_call(); a{18} = [0 2 1]; quillon(a{:})
%!error id=quillon:outOfRange a = small_call(); a{3} = 2; quillon(a{:})
%!error id=quillon:outOfRange a = small_call(); a{12}{2}(5, 5) = 1; quillon(a{:})
%!error id=quillon:wrongClass a = small_call(); a{26} = zeros(12); quillon(a{:})
%!error id=quillon:wrongClass a = small_call(); a{20} = single(0); quillon(a{:})
%!error id=quillon:badCell a = small_call(); a{14}{2, 1} = single(ones(5)); quillon(a{:})
%!error id=quillon:tooFewValues a = small_call(); a{6} = 2; quillon(a{:})
%!error id=quillon:tooFewCells a = small_call(); a{15} = {ones(3)}; quillon(a{:})
%!error id=quillon:tooLarge a = small_call(); a{2} = 1e7; quillon(a{:})
%!error <too small for filterHalf 1, posShiftMax 5 and poolStep 1> a = small_call(); a{2} = 5; quillon(a{:})

%!error <^quillon: argument 14 \(overlapTable\), cell 2 \(selected orientation 2, other orientation 1\): expected a real double array of at least 25 values; got a 5x5 single array$> a = small_call(); a{14}{2, 1} = single(ones(5)); quillon(a{:})
%!error <^quillon: argument 9 \(mapCols\): expected a number that rounds half up to an integer from 0 to 2147483647; got 2147483648$> a = small_call(); a{9} = 2^31; quillon(a{:})
%!# A map size beyond 32-bit indexing is refused before the shifts; within it, shifts that
%!# would carry positions of the larger side past 32 bits are refused naming mapRows and
%!# mapCols.
%!error <^quillon: argument 8 \(mapRows\): expected maps of at most 2147483647 values \(32-bit indexing\); got maps of 2147483647 x 12 values$> a = small_call(); a{2} = 1; a{8} = 2147483647; quillon(a{:})
%!error <^quillon: arguments 2 \(posShiftMax\) and 5 \(poolStep\): expected posShiftMax\*poolStep of at most 2147483647 less the larger of mapRows and mapCols \(2147483647\); got posShiftMax 1 and poolStep 1$> a = small_call(); a{2} = 1; a{8} = 2147483647; a{9} = 1; quillon(a{:})

%!test
%! % No sum above -1e10 in the window: refused, and nothing is written.
%! a = small_call();
%! a{11} = {zeros(12, 'single') - 1e10, NaN(12, 'single')};
%! responses = unshared(a{10});
%! try
%!   quillon(a{:});
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'quillon:noCandidate');
%! end_try_catch
%! assert(a{26}, zeros(12, 'single'));
%! assert(isequal(a{10}, responses));
%! assert([a{20:25}], zeros(1, 6));

%!test
%! % Output arrays sharing data are refused before anything is written.
%! a = small_call();
%! sketch = zeros(12, 'single');
%! a{26} = sketch;
%! a{27} = {sketch};
%! responses = unshared(a{10});
%! try
%!   quillon(a{:});
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'quillon:sharedData');
%! end_try_catch
%! assert(sketch, zeros(12, 'single'));
%! assert(isequal(a{10}, responses));
