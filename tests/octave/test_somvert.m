% Tests of somvert.mex, run by run_suite.m with the MEX folder on the path.

%!function maps = fresh_maps(rows, cols, orientCount, spare)
%!  % One separately allocated single array per cell, rows*cols + spare values long.
%!  maps = cell(1, orientCount);
%!  for o = 1:orientCount
%!    maps{o} = single(rand(rows * cols + spare, 1) * 4);
%!  end
%!endfunction

%!test
%! % Bit for bit against the step-by-step computation, across window shapes: an ordinary
%! % interior, margin 0, exactly one interior position, one-position windows, a floor above
%! % the means, a NaN response and a patch whose responses cancel out.
%! rand('seed', 11);
%! cases = {[23 19 4 1 2 3 0.3], [17 15 2 0 3 2 0.5], [11 9 5 2 3 2 0.1], ...
%!          [14 20 3 1 0 0 1.5], [16 16 2 1 1 1 0]};
%! for k = 1:numel(cases)
%!   c = num2cell(cases{k});
%!   [rows, cols, n, em, hx, hy, rf] = c{:};
%!   maps = fresh_maps(rows, cols, n, 3);
%!   maps{1}(floor(rows/2) + floor(cols/2) * rows) = NaN;
%!   maps{1}(1:3) = single(2); maps{2}(1:3) = single(-2);
%!   if n > 2
%!     for o = 3:n
%!       maps{o}(1:3) = single(0);
%!     end
%!   end
%!   expected = normalized_reference(unshared(maps), rows, cols, em, hx, hy, rf, 'single');
%!   somvert(rows, cols, n, em, hx, hy, maps, rf);
%!   assert(isequaln(maps, expected), 'case %d differs', k);
%! end

%!test
%! % Sizes and window arguments are rounded half up; relativeFloor is used as given.
%! maps = fresh_maps(23, 19, 3, 0);
%! expected = normalized_reference(unshared(maps), 23, 19, 2, 2, 1, 0.25, 'single');
%! somvert(22.5, 18.5, 2.5, 1.5, 1.5, 0.5, maps, 0.25);
%! assert(isequal(maps, expected));

%!error <argument 8 \(relativeFloor\) is missing> somvert(3, 3, 1, 1, 0, 0, {single(ones(3))})
%!error id=somvert:outOfRange somvert(3, 3, 1, -1, 0, 0, {ones(3, 'single')}, 0.5)
%!error id=somvert:outOfRange somvert(3, 3, 1, 1, -1, 0, {ones(3, 'single')}, 0.5)
%!error id=somvert:outOfRange somvert(3, 3, 1, 1, 0, -1, {ones(3, 'single')}, 0.5)
%!error id=somvert:outOfRange somvert(3, 3, 0, 1, 0, 0, {ones(3, 'single')}, 0.5)
%!error id=somvert:outOfRange somvert(3, 3, 1, 1, 0, 0, {ones(3, 'single')}, NaN)
%!error id=somvert:outOfRange somvert(3, 3, 1, 1, 0, 0, {ones(3, 'single')}, Inf)
%!error id=somvert:tooLarge somvert(1e5, 1e5, 1, 1, 0, 0, {ones(3, 'single')}, 0.5)
%!error id=somvert:tooFewCells somvert(3, 3, 2, 1, 0, 0, {ones(3, 'single')}, 0.5)
%!error id=somvert:badCell somvert(3, 3, 1, 1, 0, 0, {ones(3)}, 0.5)
%!error id=somvert:tooFewValues somvert(3, 3, 1, 1, 0, 0, {ones(2, 'single')}, 0.5)

%!test
%! % A refused call writes nothing, and the session goes on to a valid call.
%! maps = {single(magic(5)), single(magic(5)')};
%! try
%!   somvert(5, 5, 2, 1, 1, 1, {maps{1}, double(maps{2})}, 0.5);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'somvert:badCell');
%!   assert(strfind(err.message, 'argument 7 (orientMaps), cell 2'));
%! end
%! assert(maps, {single(magic(5)), single(magic(5)')});
%! expected = normalized_reference(unshared(maps), 5, 5, 1, 1, 1, 0.5, 'single');
%! somvert(5, 5, 2, 1, 1, 1, maps, 0.5);
%! assert(isequal(maps, expected));

%!test
%! % Cells sharing one array would be divided twice: refused, nothing written.
%! maps = repmat({single(magic(4))}, 1, 2);
%! try
%!   somvert(4, 4, 2, 0, 1, 1, maps, 0.5);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'somvert:sharedData');
%! end
%! assert(maps{1}, single(magic(4)));
