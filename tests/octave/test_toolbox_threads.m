% detect_faces finds the same detections, bit for bit, whatever number of threads the plug-ins
% run on: two octave-cli processes search the same synthetic scene under OMP_NUM_THREADS=1 and
% OMP_NUM_THREADS=3, and every value they find must have the same bits.

%!function write_search(scriptFile, resultFile)
%!  % A script that searches a synthetic scene with a hand-made template (two sizes, so that the
%!  % plug-ins share out both the scales and the parts of one scale among the threads) and saves
%!  % what it found, with the thread count the process ran with.
%!  lines = {
%!    sprintf('addpath(''%s'', ''%s'');', fileparts(which('gastrel')), fileparts(which('detect_faces')))
%!    'rand(''seed'', 3); randn(''seed'', 3);'
%!    'p = detector_settings(''orientCount'', 4, ''filterHalf'', 3, ''wavelength'', 4, ''normalizerHalf'', 6);'
%!    'count = 12;'
%!    't = struct(''elementCount'', count, ''orients'', mod(0:count - 1, 4), ...'
%!    '           ''rowOffsets'', 2 + mod(3 * (0:count - 1), 8), ''colOffsets'', 2 + mod(5 * (0:count - 1), 8), ...'
%!    '           ''weights'', 1 + rand(1, count), ''biases'', 0.3 * ones(1, count), ...'
%!    '           ''templateRows'', 20, ''templateCols'', 20, ''params'', p);'
%!    '[filters, stamps] = filter_bank(p);'
%!    'scene = conv2(randn(302, 332), ones(3) / 9, ''valid'');'
%!    '[found, sketch] = detect_faces(scene, t, filters, stamps, ''faceSizes'', [20 24], ...'
%!    '                               ''detectionCount'', 6, ''scoreThreshold'', -Inf, ''verbose'', 0);'
%!    'threads = nproc();'
%!    sprintf('save(''-binary'', ''%s'', ''found'', ''sketch'', ''threads'');', resultFile)
%!  };
%!  fid = fopen(scriptFile, 'w');
%!  fprintf(fid, '%s\n', lines{:});
%!  fclose(fid);
%!endfunction

%!function result = search_with_threads(threadCount, folder)
%!  scriptFile = fullfile(folder, sprintf('search%d.m', threadCount));
%!  resultFile = fullfile(folder, sprintf('found%d.bin', threadCount));
%!  write_search(scriptFile, resultFile);
%!  octave = fullfile(OCTAVE_HOME, 'bin', 'octave-cli');
%!  [status, output] = system(sprintf('OMP_NUM_THREADS=%d "%s" --no-history --norc --quiet "%s" 2>&1', ...
%!                                    threadCount, octave, scriptFile));
%!  assert(status == 0, 'OMP_NUM_THREADS=%d: the search failed: %s', threadCount, output);
%!  result = load(resultFile);
%!  assert(result.threads, threadCount);
%!endfunction

%!function same_bits(a, b, what)
%!  assert(strcmp(class(a), class(b)) && isequal(size(a), size(b)), '%s: class or size differs', what);
%!  assert(isequal(typecast(a(:), 'uint8'), typecast(b(:), 'uint8')), '%s: the bits differ', what);
%!endfunction

%!test
%! folder = tempname();
%! mkdir(folder);
%! unwind_protect
%!   one = search_with_threads(1, folder);
%!   three = search_with_threads(3, folder);
%!   assert(numel(one.found), 6);
%!   assert(numel(three.found), numel(one.found));
%!   fields = fieldnames(one.found);
%!   assert(fieldnames(three.found), fields);
%!   for d = 1:numel(one.found)
%!     for f = 1:numel(fields)
%!       same_bits(three.found(d).(fields{f}), one.found(d).(fields{f}), sprintf('detection %d, %s', d, fields{f}));
%!     end
%!   end
%!   same_bits(three.sketch, one.sketch, 'sketch');
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir(false, 'local');
%!   rmdir(folder, 's');
%! end_unwind_protect
