% Tests of tarrowveto.mex, run by run_suite.m with the MEX folder on the path.

%!function maps = fresh_maps(rows, cols, imageCount, value)
%!  % One separately allocated single map per image.
%!  maps = cell(1, imageCount);
%!  for image = 1:imageCount
%!    maps{image} = zeros(rows(image), cols(image), 'single') + value;
%!  endfor
%!endfunction

%!test
%! % With every overlap factor 1 nothing is inhibited: the sketches are those tarrow draws, the
%! % maps stay as they were, and each image's score (started at 5) grows by w*saturate(r/n, s) - b
%! % for every element on the pooled map with r > 0, rounded to single after each.
%! randn('seed', 31); rand('seed', 32);
%! rows = [24 21]; cols = [20 26]; orientCount = 4; posShiftMax = 1; orientShiftMax = 1; poolStep = 2; h = 1;
%! responses = cell(2, orientCount);
%! for k = 1:numel(responses)
%!   image = mod(k - 1, 2) + 1;
%!   responses{k} = single(randn(rows(image), cols(image)));
%! endfor
%! [pooled, traces] = pooled_by_vindral(responses, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep);
%! stamps = arrayfun(@(o) rand(2*h + 1), 1:orientCount, 'UniformOutput', false);
%! overlap = arrayfun(@(k) ones(4*h + 1), zeros(orientCount), 'UniformOutput', false);
%! orients = [0 1 2 3 1 2 0 3]; rowOffsets = [1 2 3 4 5 6 7 8]; colOffsets = [2 4 1 3 5 2 6 0];
%! weights = [1 2 0.5 1.5 1 1 3 2]; biases = [0.1 0.2 0.3 0.1 0.2 0.3 0.1 0.2];
%! anchorRows = [0 2]; anchorCols = [1 2]; templateRows = 8; templateCols = 10;
%! normalizers = fresh_maps(rows, cols, 2, 1);
%! normalizers{2}(:) = 2;               % image 2's centre, pixel (8, 8), reads 2
%! responsesBefore = unshared(responses); pooledBefore = unshared(pooled); tracesBefore = unshared(traces);
%! tarrowSketches = fresh_maps(rows, cols, 2, 9);
%! tarrow(2, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep, h, stamps, 8, orients, ...
%!        rowOffsets, colOffsets, pooled, traces, tarrowSketches, anchorRows, anchorCols, 1.5);
%! sketches = fresh_maps(rows, cols, 2, 9);
%! scores = single([5 5]);
%! tarrowveto(2, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep, h, stamps, 8, orients, ...
%!            rowOffsets, colOffsets, weights, biases, responses, pooled, traces, sketches, anchorRows, ...
%!            anchorCols, 1.5, templateRows, templateCols, overlap, scores, normalizers);
%! assert(isequal(sketches{1}, tarrowSketches{1}));   % image 2 draws with r/2
%! assert(isequal(responses, responsesBefore) && isequal(pooled, pooledBefore) && isequal(traces, tracesBefore));
%! expected = single([5 5]); n = [1 2]; terms = 0;
%! for image = 1:2
%!   for k = 1:8
%!     x = anchorRows(image) + rowOffsets(k); y = anchorCols(image) + colOffsets(k);
%!     if x >= 1 && x <= floor(rows(image) / 2) && y >= 1 && y <= floor(cols(image) / 2)
%!       r = pooled{image, orients(k) + 1}(x, y);
%!       if r > 0
%!         t = saturated(single(double(r) / n(image)), 1.5);
%!         expected(image) = single(double(expected(image)) + (weights(k) * double(t) - biases(k)));
%!         terms = terms + 1;
%!       endif
%!     endif
%!   endfor
%! endfor
%! assert(terms >= 6);
%! assert(isequal(typecast(scores, 'uint32'), typecast(expected, 'uint32')));

%!test
%! % Known positions: one orientation, slots reach rows 2x, 2x - 2 and 2x + 2. Both elements'
%! % maxima come from the response at pixel (14, 12); the overlap factor at the element's own
%! % pixel is 0, so the first element wipes it out and the second is drawn at its next-best
%! % match, pixel (16, 12). The repaired maps equal a fresh pooling of the inhibited responses.
%! r = zeros(30, 'single') + 0.1;
%! r(14, 12) = 5; r(16, 12) = 3; r(12, 12) = 1;
%! responses = {r};
%! [pooled, traces] = pooled_by_vindral(responses, 30, 30, 1, 1, 0, 2);
%! overlap = {ones(5)}; overlap{1}(3, 3) = 0;
%! sketches = {zeros(30, 'single')}; scores = zeros(1, 'single');
%! tarrowveto(1, 30, 30, 1, 1, 0, 2, 1, {ones(3)}, 2, [0 0], [3 4], [3 3], [1 2], [0.5 0.25], ...
%!            responses, pooled, traces, sketches, 3, 3, 1.5, 0, 0, overlap, scores, {ones(30, 'single')});
%! t0 = saturated(5, 1.5); t1 = saturated(3, 1.5);
%! expectedSketch = zeros(30, 'single');
%! expectedSketch(15:17, 11:13) = single(sqrt(double(t1)));
%! expectedSketch(13:15, 11:13) = single(sqrt(double(t0)));
%! assert(sketches{1}, expectedSketch);
%! assert(scores, single(double(single(double(t0) - 0.5)) + (2 * double(t1) - 0.25)));
%! expectedResponses = r; expectedResponses(14, 12) = 0; expectedResponses(16, 12) = 0;
%! assert(responses{1}, expectedResponses);
%! [freshPooled, freshTraces] = pooled_by_vindral(responses, 30, 30, 1, 1, 0, 2);
%! assert(pooled{1}, freshPooled{1});
%! assert(traces{1}, freshTraces{1});
%! assert([pooled{1}(7, 6), traces{1}(7, 6)], single([1 1]));

%!test
%! % Sketches declined with {}: the same inhibition and scores, bit for bit, as when drawing.
%! randn('seed', 41);
%! rows = [23 19]; cols = [18 25]; orientCount = 2;
%! responses = arrayfun(@(k) single(abs(randn(rows(mod(k - 1, 2) + 1), cols(mod(k - 1, 2) + 1)))), ...
%!                      1:2 * orientCount, 'UniformOutput', false);
%! responses = reshape(responses, 2, orientCount);
%! [pooled, traces] = pooled_by_vindral(responses, rows, cols, orientCount, 1, 1, 2);
%! overlap = arrayfun(@(k) double(rand(5) > 0.5), zeros(orientCount), 'UniformOutput', false);
%! args = {2, rows, cols, orientCount, 1, 1, 2, 1, {ones(3), ones(3)}, 3, [0 1 0], [2 3 3], [3 2 4], ...
%!         [1 2 1], [0.1 0 0.2]};
%! drawn = {unshared(responses), unshared(pooled), unshared(traces)};
%! declined = {unshared(responses), unshared(pooled), unshared(traces)};
%! scoresDrawn = single([1 2]); scoresDeclined = single([1 2]);
%! normalizers = {ones(23, 18, 'single'), ones(19, 25, 'single')};
%! tarrowveto(args{:}, drawn{:}, {zeros(23, 18, 'single'), zeros(19, 25, 'single')}, [1 2], [2 1], ...
%!            1.5, 8, 8, overlap, scoresDrawn, normalizers);
%! tarrowveto(args{:}, declined{:}, {}, [1 2], [2 1], 1.5, 8, 8, overlap, scoresDeclined, normalizers);
%! assert(isequal(drawn, declined));
%! assert(isequal(typecast(scoresDrawn, 'uint32'), typecast(scoresDeclined, 'uint32')));
%! assert(~isequal(drawn{1}, responses));

%!test
%! % A NaN anchor (nothing found) and an empty template only clear the sketches.
%! responses = {ones(8, 'single')}; pooled = {ones(4, 'single')}; traces = {zeros(4, 'single')};
%! sketches = {ones(8, 'single')}; scores = single(2);
%! tarrowveto(1, 8, 8, 1, 0, 0, 2, 0, {1}, 1, 0, 1, 1, 1, 0, responses, pooled, traces, sketches, NaN, NaN, ...
%!            1, 4, 4, {0}, scores, {ones(8, 'single')});
%! assert(sketches{1}, zeros(8, 'single'));
%! assert(scores, single(2));
%! sketches{1}(:) = 1;
%! tarrowveto(1, 8, 8, 1, 0, 0, 2, 0, {1}, 0, [], [], [], [], [], responses, pooled, traces, sketches, 1, 1, ...
%!            1, 4, 4, {0}, scores, {ones(8, 'single')});
%! assert(sketches{1}, zeros(8, 'single'));
%! assert([scores, responses{1}(:)', pooled{1}(:)'], single([2, ones(1, 64), ones(1, 16)]));

%!shared args
%! % A valid call: 1 image of 12 x 12, 2 orientations, poolStep 2, h = 1, one element at
%! % pooled (3, 3); the pool window is rows and columns 3 ... 3.
%! args = {1, 12, 12, 2, 1, 1, 2, 1, {ones(3), ones(3)}, 1, 1, 2, 2, 1, 0, ...
%!         {ones(12, 'single'), ones(12, 'single')}, {ones(6, 'single'), ones(6, 'single')}, ...
%!         {zeros(6, 'single'), zeros(6, 'single')}, {zeros(12, 'single')}, 1, 1, 1.5, 4, 4, ...
%!         {ones(5), ones(5); ones(5), ones(5)}, single(0), {ones(12, 'single')}};
%!error <argument 27 \(normalizerMaps\) is missing> tarrowveto(args{1:26})
%!error id=tarrowveto:tooManyOutputs x = tarrowveto(args{:});
%!error id=tarrowveto:outOfRange a = args; a{7} = 0; tarrowveto(a{:})
%!error id=tarrowveto:outOfRange a = args; a{11} = -1; tarrowveto(a{:})
%!error id=tarrowveto:outOfRange a = args; a{20} = -Inf; tarrowveto(a{:})
%!error id=tarrowveto:outOfRange a = args; a{23} = -2; tarrowveto(a{:})
%!error <position \(3, 3\): expected a shift slot> a = args; a{18}{1}(3, 3) = 0.5; tarrowveto(a{:})
%!error id=tarrowveto:wrongClass a = args; a{26} = 0; tarrowveto(a{:})
%!error id=tarrowveto:tooFewValues a = args; a{14} = []; tarrowveto(a{:})
%!error id=tarrowveto:tooFewValues a = args; a{25}{2, 2} = ones(4); tarrowveto(a{:})
%!error <^tarrowveto: argument 25 \(overlapTable\), cell 4 \(selected orientation 2, other orientation 2\): expected a real double array of at least 25 values; got a 4x4 double array$> a = args; a{25}{2, 2} = ones(4); tarrowveto(a{:})
%!error id=tarrowveto:tooFewCells a = args; a{25} = {ones(5), ones(5)}; tarrowveto(a{:})
%!error id=tarrowveto:badCell a = args; a{27} = {ones(12)}; tarrowveto(a{:})
%!error id=tarrowveto:sharedData a = args; p = ones(12, 'single'); a{16}{2} = p; a{19} = {p}; tarrowveto(a{:})

%!test
%! % A refused call changes nothing: here a trace value in the pool window that is no slot.
%! responses = {ones(12, 'single') * 2, ones(12, 'single')};
%! pooled = {ones(6, 'single') * 2, ones(6, 'single')};
%! traces = {zeros(6, 'single'), zeros(6, 'single')};
%! traces{2}(3, 3) = 9;
%! sketches = {zeros(12, 'single') + 4}; scores = single(1);
%! before = unshared({responses{:}, pooled{:}, traces{:}, sketches{:}, scores});
%! overlap = {zeros(5), zeros(5); zeros(5), zeros(5)};
%! try
%!   tarrowveto(1, 12, 12, 2, 1, 1, 2, 1, {ones(3), ones(3)}, 1, 0, 2, 2, 1, 0, responses, pooled, traces, ...
%!              sketches, 1, 1, 1.5, 4, 4, overlap, scores, {ones(12, 'single')});
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'tarrowveto:outOfRange');
%!   assert(strfind(err.message, 'argument 18 (traceMaps), cell 2 (image 1, orientation 2), position (3, 3)'));
%! end_try_catch
%! assert(isequal({responses{:}, pooled{:}, traces{:}, sketches{:}, scores}, before));
