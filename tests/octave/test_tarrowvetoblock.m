% Tests of tarrowvetoblock.mex, run by run_suite.m with the MEX folder on the path.

%!test
%! % Three images of odd sizes, one without a detection: the maps, sketches, scores and score
%! % maps are bit for bit those of tarrowveto followed by gastrelblock, with sketches drawn
%! % and declined ({}), and with blocks clipped at the anchors' edges and NaN for none; the
%! % crop of the third image holds its pooled and trace maps as they were before the call.
%! randn('seed', 21); rand('seed', 22);
%! rows = [41 30 53]; cols = [37 45 29]; step = 2; orients = 3; tRows = 12; tCols = 10;
%! stamps = arrayfun(@(o) rand(5), 1:orients, 'UniformOutput', false);
%! overlap = arrayfun(@(k) double(rand(9) > 0.3), ones(orients), 'UniformOutput', false);
%! responses = cell(3, orients); pooled = cell(3, orients); traces = cell(3, orients);
%! for k = 1:3
%!   for o = 1:orients
%!     responses{k, o} = single(abs(randn(rows(k), cols(k))));
%!     pooled{k, o} = zeros(floor(rows(k) / step), floor(cols(k) / step), 'single');
%!     traces{k, o} = zeros(floor(rows(k) / step), floor(cols(k) / step), 'single');
%!   end
%! end
%! vindral(3, rows, cols, orients, 1, 1, step, responses, pooled, traces);
%! normalizers = arrayfun(@(k) single(0.5 + rand(rows(k), cols(k))), 1:3, 'UniformOutput', false);
%! scoreMaps = arrayfun(@(k) single(randn(floor((tRows + rows(k)) / step), ...
%!                                        floor((tCols + cols(k)) / step))), 1:3, 'UniformOutput', false);
%! scoreMaps{1}(8, 9) = -1e10;
%! elements = {5, [0 1 2 1 0], [1 3 5 2 4], [2 1 4 3 5], [1 0.5 2 1.5 1], [0.1 0.2 0 0.3 0.1]};
%! anchors = {[4 NaN 6], [3 2 1]};
%! bounds = {[-Inf NaN 2], [9 4 20], [-2 0 1], [6 3 Inf]};
%! for drawn = [true false]
%!   sketches = {};
%!   if drawn
%!     sketches = arrayfun(@(k) zeros(rows(k), cols(k), 'single'), 1:3, 'UniformOutput', false);
%!   end
%!   maps = {unshared(responses), unshared(pooled), unshared(traces), unshared(sketches)};
%!   expected = {unshared(responses), unshared(pooled), unshared(traces), unshared(sketches)};
%!   [scores, expectedScores] = deal(zeros(1, 3, 'single'), zeros(1, 3, 'single'));
%!   [actualMaps, expectedMaps] = deal(unshared(scoreMaps), unshared(scoreMaps));
%!   head = {3, rows, cols, orients, 1, 1, step, 2, stamps, elements{:}};
%!   tarrowveto(head{:}, expected{:}, anchors{:}, 2.5, tRows, tCols, overlap, expectedScores, ...
%!              normalizers);
%!   gastrelblock(3, rows, cols, orients, step, tRows, tCols, elements{:}, expected{2}, ...
%!                expectedMaps, normalizers, 2.5, bounds{:});
%!   crops = arrayfun(@(k) zeros(10, 8, 'single'), 1:2 * orients, 'UniformOutput', false);
%!   tarrowvetoblock(head{:}, maps{:}, anchors{:}, 2.5, tRows, tCols, overlap, scores, ...
%!                   normalizers, actualMaps, bounds{:}, 3, 2, 1, 10, 8, crops(1:orients), ...
%!                   crops(orients + 1:end));
%!   assert(isequal(crops, cellfun(@(m) m(2:11, 1:8), [pooled(3, :), traces(3, :)], ...
%!                                 'UniformOutput', false)));
%!   assert(~isequal(maps{2}(3, :), pooled(3, :)));
%!   assert(isequal(maps, expected));
%!   assert(isequal(typecast(scores, 'uint32'), typecast(expectedScores, 'uint32')));
%!   assert(isequal(actualMaps, expectedMaps));
%!   assert(actualMaps{1}(8, 9), single(-1e10));
%! end

%!shared args
%! args = {1, 8, 8, 1, 0, 0, 2, 1, {ones(3)}, 1, 0, 1, 1, 1, 0, {ones(8, 8, 'single')}, ...
%!         {ones(4, 4, 'single')}, {zeros(4, 4, 'single')}, {}, 1, 1, 2, 4, 4, {zeros(5)}, ...
%!         zeros(1, 1, 'single'), {ones(8, 8, 'single')}, {zeros(6, 6, 'single')}, 0, 2, 0, 2};
%!error <argument 32 \(lastAnchorCols\) is missing> tarrowvetoblock(args{1:31})
%!error id=tarrowvetoblock:tooFewValues a = args; a{28} = {zeros(5, 6, 'single')}; tarrowvetoblock(a{:})
%!error id=tarrowvetoblock:wrongClass a = args; a{29} = single(0); tarrowvetoblock(a{:})
%!error id=tarrowvetoblock:sharedData a = args; a{28} = a{27}; tarrowvetoblock(a{:})
%!error <argument 34 \(cropFirstRow\) is missing> tarrowvetoblock(args{:}, 1)
%!error <argument 36 \(cropRows\)> c = {zeros(4, 1, 'single')}; tarrowvetoblock(args{:}, 1, 2, 1, 4, 1, c, c)
