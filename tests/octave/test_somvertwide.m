% Tests of somvertwide.mex, run by run_suite.m with the MEX folder on the path.

%!function maps = fresh_maps(rows, cols, orientCount, spare)
%!  % One separately allocated double array per cell, rows*cols + spare values long.
%!  maps = cell(1, orientCount);
%!  for o = 1:orientCount
%!    maps{o} = rand(rows * cols + spare, 1) * 4;
%!  end
%!endfunction

%!test
%! % Bit for bit against the step-by-step computation in double precision: an ordinary
%! % interior, margin 0, exactly one interior position, a NaN response.
%! rand('seed', 12);
%! cases = {[23 19 4 1 2 3 0.3], [17 15 2 0 3 2 0.5], [11 9 5 2 3 2 0.1], [14 20 3 1 0 0 1.5]};
%! for k = 1:numel(cases)
%!   c = num2cell(cases{k});
%!   [rows, cols, n, em, hx, hy, rf] = c{:};
%!   maps = fresh_maps(rows, cols, n, 3);
%!   maps{1}(floor(rows/2) + floor(cols/2) * rows) = NaN;
%!   expected = normalized_reference(unshared(maps), rows, cols, em, hx, hy, rf, 'double');
%!   somvertwide(rows, cols, n, em, hx, hy, maps, rf);
%!   assert(isequaln(maps, expected), 'case %d differs', k);
%! end

%!test
%! % The same data through somvert agrees up to single-precision rounding.
%! rand('seed', 13);
%! wide = fresh_maps(40, 33, 6, 0);
%! narrow = cellfun(@single, wide, 'UniformOutput', false);
%! wide = cellfun(@double, narrow, 'UniformOutput', false);
%! somvertwide(40, 33, 6, 2, 4, 3, wide, 0.2);
%! somvert(40, 33, 6, 2, 4, 3, narrow, 0.2);
%! for o = 1:6
%!   assert(double(narrow{o}), wide{o}, -1e-5);
%! end

%!error id=somvertwide:badCell somvertwide(3, 3, 1, 1, 0, 0, {ones(3, 'single')}, 0.5)
%!error id=somvertwide:tooFewValues somvertwide(3, 3, 1, 1, 0, 0, {ones(2)}, 0.5)
%!error id=somvertwide:outOfRange somvertwide(3, 3, 1, -1, 0, 0, {ones(3)}, 0.5)
%!error id=somvertwide:outOfRange somvertwide(3, 3, 1, 1, 0, -2, {ones(3)}, 0.5)
%!error id=somvertwide:outOfRange somvertwide(3, 3, 1, 1, 0, 0, {ones(3)}, -Inf)
%!error id=somvertwide:tooFewCells somvertwide(3, 3, 3, 1, 0, 0, {ones(3), ones(3)}, 0.5)

%!test
%! % A refused call writes nothing, and the session goes on to a valid call.
%! maps = {magic(5), magic(5)'};
%! try
%!   somvertwide(5, 5, 2, 1, 1, 1, {maps{1}, single(maps{2})}, 0.5);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'somvertwide:badCell');
%! end
%! assert(maps, {magic(5), magic(5)'});
%! expected = normalized_reference(unshared(maps), 5, 5, 1, 1, 1, 0.5, 'double');
%! somvertwide(5, 5, 2, 1, 1, 1, maps, 0.5);
%! assert(isequal(maps, expected));

%!test
%! % Running out of memory in the host's own allocator is the plug-in's outOfMemory, and the
%! % maps stay as they were. The session's address space is capped (Linux, prlimit) at 250 MB
%! % above what it holds with the maps made, less than the call's working tables (16 bytes a
%! % value, 400 MB) but room for what the session itself may still reserve (a thread's
%! % allocator arena takes 64 MB), and lifted again afterwards. Not under memcheck, whose own tables the cap would
%! % starve.
%! if (! exist('/proc/self/status', 'file') || system('command -v prlimit > /dev/null') != 0 ...
%!     || ! isempty(getenv('UNDER_MEMCHECK')))
%!   return;
%! end
%! n = 5000;
%! maps = {rand(n, n)};
%! before = maps{1}(1:9);
%! status = fileread('/proc/self/status');
%! heldKiB = str2double(regexp(status, 'VmSize:\s*(\d+)', 'tokens', 'once'){1});
%! limitBytes = (heldKiB + 250 * 1024) * 1024;
%! unwind_protect
%!   system(sprintf('prlimit --pid %d --as=%d:', getpid(), limitBytes));
%!   try
%!     somvertwide(n, n, 1, 1, 2, 2, maps, 0.1);
%!     error('not refused');
%!   catch err
%!     assert(err.identifier, 'somvertwide:outOfMemory');
%!     assert(! isempty(strfind(err.message, 'working values of 8 bytes')));
%!   end
%! unwind_protect_cleanup
%!   system(sprintf('prlimit --pid %d --as=unlimited:', getpid()));
%! end_unwind_protect
%! assert(maps{1}(1:9), before);
