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
%! % Running out of memory in the host's own allocator is the plug-in's outOfMemory, the maps
%! % stay as they were and the session goes on. The call runs in a session of its own (a
%! % child octave-cli, so that what earlier tests left in this one cannot spend the room),
%! % which caps its address space (Linux, prlimit) at 100 MB above what it holds with the maps
%! % made, less than the call's working tables (16 bytes a value), lifts the cap again and
%! % prints what happened. Not under memcheck, whose own tables the cap would starve.
%! if (! exist('/proc/self/status', 'file') || system('command -v prlimit > /dev/null') != 0 ...
%!     || ! isempty(getenv('UNDER_MEMCHECK')))
%!   return;
%! end
%! child = {sprintf('addpath(''%s'');', fileparts(which('somvertwide'))), ...
%!          'n = 5000; maps = {rand(n, n)}; before = maps{1}(1:9);', ...
%!          'status = fileread(''/proc/self/status'');', ...
%!          'heldKiB = str2double(regexp(status, ''VmSize:\s*(\d+)'', ''tokens'', ''once''){1});', ...
%!          'system(sprintf(''prlimit --pid %d --as=%d:'', getpid(), (heldKiB + 100 * 1024) * 1024));', ...
%!          'try, somvertwide(n, n, 1, 1, 2, 2, maps, 0.1); id = ''not refused''; message = '''';', ...
%!          'catch err, id = err.identifier; message = err.message; end', ...
%!          'system(sprintf(''prlimit --pid %d --as=unlimited:'', getpid()));', ...
%!          'printf(''outcome %s %d %d\n'', id, ! isempty(strfind(message, ''working values of 8 bytes'')), isequal(maps{1}(1:9), before));'};
%! setenv('SOMVERTWIDE_CHILD', strjoin(child, "\n"));
%! octave = fullfile(OCTAVE_HOME(), 'bin', 'octave-cli');
%! [~, output] = system(sprintf('"%s" --no-history --norc --quiet --eval "eval(getenv(''SOMVERTWIDE_CHILD''))" 2>&1', octave));
%! outcome = regexp(output, 'outcome [^\n]*', 'match', 'once');
%! assert(outcome, 'outcome somvertwide:outOfMemory 1 1', output);
