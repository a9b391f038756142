% Tests of fennock.mex, run by run_suite.m with the MEX folder on the path.

%!function maps = fresh_grid(rows, cols, orientCount, spare)
%!  % One separately allocated single array per cell, rows(i)*cols(i) + spare values long.
%!  imageCount = numel(rows);
%!  maps = cell(imageCount, orientCount);
%!  for k = 1:numel(maps)
%!    image = mod(k - 1, imageCount) + 1;
%!    maps{k} = single(randn(rows(image) * cols(image) + spare, 1) * 4);
%!  end
%!endfunction

%!function out = saturated(v, s)
%!  out = single(s .* ((2 ./ (exp((-2 .* double(v)) ./ s) + 1)) - 1));
%!endfunction

%!test
%! % Every image's first rows*cols values are saturated bit for bit; the rest are untouched.
%! randn('seed', 7);
%! rows = [7 2.5 13]; cols = [5 4.49 1]; s = 2.75;
%! used = floor(rows + 0.5) .* floor(cols + 0.5);
%! maps = fresh_grid(floor(rows + 0.5), floor(cols + 0.5), 4, 3);
%! maps{1}(1:4) = single([0 1e6 -1e6 NaN]);
%! before = unshared(maps);
%! fennock(3, rows, cols, 4, s, maps);
%! for k = 1:numel(maps)
%!   n = used(mod(k - 1, 3) + 1);
%!   expected = [saturated(before{k}(1:n), s); before{k}(n+1:end)];
%!   assert(isequaln(maps{k}, expected), 'cell %d differs', k);
%! end
%! assert(maps{1}(1:3), single([0; s; -s]));
%! assert(isnan(maps{1}(4)));

%!test
%! % Results agree with tanh to single precision, and a second call saturates again.
%! maps = {single(linspace(-9, 9, 101)')};
%! fennock(1, 101, 1, 1, 3, maps);
%! assert(maps{1}, single(3 * tanh(linspace(-9, 9, 101)' / 3)), 4 * eps('single') * 3);
%! once = maps{1} * 1;
%! fennock(1, 101, 1, 1, 3, maps);
%! assert(any(maps{1} ~= once));

%!test
%! % Images of size 0 and a call with no images change nothing.
%! maps = {single([1 2 3]), single([4 5 6])};
%! fennock(2, [0 3], [3 0], 1, 1, maps);
%! assert(maps, {single([1 2 3]), single([4 5 6])});
%! fennock(0, [], [], 0, 1, {});

%!test
%! % Arguments past the sixth are ignored.
%! maps = {single(1)};
%! fennock(1, 1, 1, 1, 1, maps, 'ignored', {});
%! assert(maps{1}, saturated(1, 1));

%!error <argument 6 \(responseMaps\) is missing> fennock(1, 1, 1, 1, 1)
%!error id=fennock:tooFewArguments fennock()
%!error id=fennock:tooManyOutputs x = fennock(1, 1, 1, 1, 1, {single(1)});
%!error id=fennock:outOfRange fennock(1, 1, 1, 1, 0, {single(1)})
%!error id=fennock:outOfRange fennock(1, 1, 1, 1, NaN, {single(1)})
%!error id=fennock:outOfRange fennock(-1, 1, 1, 1, 1, {single(1)})
%!error id=fennock:outOfRange fennock(1, -2, 1, 1, 1, {single(1)})
%!error id=fennock:notScalar fennock([1 1], 1, 1, 1, 1, {single(1)})
%!error id=fennock:notScalar fennock(1, 1, 1, 'a', 1, {single(1)})
%!error id=fennock:notScalar fennock(1, 1, 1, 1, 1i, {single(1)})
%!error id=fennock:wrongClass fennock(1, single(1), 1, 1, 1, {single(1)})
%!error id=fennock:tooFewValues fennock(2, [1 1], 1, 1, 1, {single(1), single(1)})
%!error id=fennock:notCell fennock(1, 1, 1, 1, 1, single(1))
%!error id=fennock:tooFewCells fennock(2, [1 1], [1 1], 1, 1, {single(1)})
%!error id=fennock:badCell fennock(1, 1, 1, 1, 1, {1})
%!error id=fennock:badCell fennock(1, 1, 1, 1, 1, {int32(1)})
%!error id=fennock:tooFewValues fennock(1, 2, 2, 1, 1, {single([1 2 3])})
%!error id=fennock:tooLarge fennock(1, 1e5, 1e5, 1, 1, {single(1)})

%!error <^fennock: argument 1 \(imageCount\): expected a number that rounds half up to an integer from 0 to 2147483647; got 10000000000$> fennock(1e10, 1, 1, 1, 1, {single(1)})
%!error <^fennock: argument 1 \(imageCount\): expected a number that rounds half up to an integer of at least 0; got -1$> fennock(-1, 1, 1, 1, 1, {single(1)})
%!error <^fennock: argument 3 \(imageCols\), entry 2: expected a size that rounds half up to an integer from 0 to 2147483647; got inf$> fennock(2, [1 1], [1 Inf], 1, 1, {single(1), single(1)})
%!error <^fennock: argument 6 \(responseMaps\), cell 1 \(image 1, orientation 1\): expected a real single array of at least 1 value; got a 0x0 single array$> fennock(1, 1, 1, 1, 1, {single([])})
%!error <^fennock: argument 6 \(responseMaps\), cell 4 \(image 1, orientation 2\): expected a real single array of at least 1 value; got a 1x1 double array$> fennock(3, [1 1 1], [1 1 1], 2, 1, {single(1), single(1), single(1), 1, single(1), single(1)})

%!test
%! % A refused call writes nothing, and the session goes on to a valid call.
%! maps = {single([1 2; 3 4]), single([5 6; 7 8])};
%! try
%!   fennock(2, [2 2], [2 2], 1, 1, {maps{1}, double(maps{2})});
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'fennock:badCell');
%!   assert(strfind(err.message, 'cell 2 (image 2, orientation 1)'));
%! end
%! assert(maps, {single([1 2; 3 4]), single([5 6; 7 8])});
%! fennock(2, [2 2], [2 2], 1, 1, maps);
%! assert(maps{2}, saturated(single([5 6; 7 8]), 1));

%!test
%! % Cells that share one array would be saturated twice: refused, nothing written.
%! maps = repmat({single([1 2 3])}, 1, 2);
%! try
%!   fennock(2, [1 1], [3 3], 1, 1, maps);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'fennock:sharedData');
%! end
%! assert(maps{1}, single([1 2 3]));
