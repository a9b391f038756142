% Tests of brelind.mex, run by run_suite.m with the MEX folder on the path.

%!function maps = fresh_grid(rows, cols, orientCount)
%!  % One separately allocated single array per cell of an imageCount x orientCount grid.
%!  imageCount = numel(rows);
%!  maps = cell(imageCount, orientCount);
%!  for k = 1:numel(maps)
%!    image = mod(k - 1, imageCount) + 1;
%!    maps{k} = single(rand(rows(image), cols(image)) * 10);
%!  end
%!endfunction

%!function out = fresh_outputs(rows, cols)
%!  out = cell(1, numel(rows));
%!  for i = 1:numel(rows)
%!    out{i} = zeros(rows(i), cols(i), 'single');
%!  end
%!endfunction

%!test
%! % Each image's map is its floored window means, bit for bit; images of different sizes
%! % use their own sizes, and the responses are only read.
%! rand('seed', 21);
%! rows = [31 18 24]; cols = [26 22 13];
%! for w = {[1 2 3 0.3], [0 3 1 0.05], [2 1 0 1.5]}
%!   [em, hx, hy, rf] = num2cell(w{1}){:};
%!   responses = fresh_grid(rows, cols, 5);
%!   before = cellfun(@(m) m * 1, responses, 'UniformOutput', false);
%!   means = fresh_outputs(rows, cols);
%!   brelind(3, rows - 0.5, cols, 5, em, responses, means, hx, hy, 0, rf);
%!   assert(isequal(responses, before));
%!   for i = 1:3
%!     expected = window_mean_reference(responses(i, :), rows(i), cols(i), em, hx, hy, rf, 'single');
%!     assert(isequal(means{i}, expected), 'image %d differs', i);
%!   end
%! end

%!error id=brelind:tooFewArguments brelind(1, 3, 3, 1, 1, {ones(3, 'single')}, {ones(3, 'single')}, 0, 0, 0)
%!error id=brelind:outOfRange brelind(1, 3, 3, 1, -1, {ones(3, 'single')}, {zeros(3, 'single')}, 0, 0, 0, 0.5)
%!error id=brelind:outOfRange brelind(1, 3, 3, 1, 1, {ones(3, 'single')}, {zeros(3, 'single')}, -1, 0, 0, 0.5)
%!error id=brelind:outOfRange brelind(1, 3, 3, 1, 1, {ones(3, 'single')}, {zeros(3, 'single')}, 0, -1, 0, 0.5)
%!error id=brelind:outOfRange brelind(1, 3, 3, 0, 1, {ones(3, 'single')}, {zeros(3, 'single')}, 0, 0, 0, 0.5)
%!error id=brelind:outOfRange brelind(1, 3, 3, 1, 1, {ones(3, 'single')}, {zeros(3, 'single')}, 0, 0, 0, NaN)
%!error id=brelind:tooFewValues brelind(2, [3 3], 3, 1, 1, {ones(3, 'single'), ones(3, 'single')}, {zeros(3, 'single'), zeros(3, 'single')}, 0, 0, 0, 0.5)
%!error id=brelind:badCell brelind(1, 3, 3, 1, 1, {ones(3)}, {zeros(3, 'single')}, 0, 0, 0, 0.5)
%!error id=brelind:badCell brelind(1, 3, 3, 1, 1, {ones(3, 'single')}, {zeros(3)}, 0, 0, 0, 0.5)
%!error id=brelind:tooFewValues brelind(1, 3, 3, 1, 1, {ones(3, 'single')}, {zeros(2, 'single')}, 0, 0, 0, 0.5)
%!error id=brelind:tooFewCells brelind(1, 3, 3, 2, 1, {ones(3, 'single')}, {zeros(3, 'single')}, 0, 0, 0, 0.5)
%!error id=brelind:tooFewCells brelind(2, [3 3], [3 3], 1, 1, {ones(3, 'single'), ones(3, 'single')}, {zeros(3, 'single')}, 0, 0, 0, 0.5)

%!test
%! % A refused call writes nothing, and the session goes on to a valid call.
%! responses = fresh_grid([9 9], [9 9], 2);
%! means = fresh_outputs([9 9], [9 9]);
%! shared = {means{1}, means{1}};
%! try
%!   brelind(2, [9 9], [9 9], 2, 1, responses, shared, 1, 1, 0, 0.5);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'brelind:sharedData');
%! end
%! assert(means{1}, zeros(9, 'single'));
%! brelind(2, [9 9], [9 9], 2, 1, responses, means, 1, 1, 0, 0.5);
%! assert(isequal(means{2}, window_mean_reference(responses(2, :), 9, 9, 1, 1, 1, 0.5, 'single')));
