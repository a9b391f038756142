% Tests of vindral.mex, run by run_suite.m with the MEX folder on the path.

%!function [pooled, traces] = fresh_outputs(rows, cols, orientCount, poolStep, spare)
%!  % One separately allocated single column per cell, filled with 7, with `spare` values
%!  % beyond the pooled map that the call must leave alone.
%!  imageCount = numel(rows);
%!  pooled = cell(imageCount, orientCount);
%!  traces = pooled;
%!  for k = 1:numel(pooled)
%!    image = mod(k - 1, imageCount) + 1;
%!    n = floor(rows(image) / poolStep) * floor(cols(image) / poolStep) + spare;
%!    pooled{k} = zeros(n, 1, 'single') + 7;
%!    traces{k} = zeros(n, 1, 'single') + 7;
%!  endfor
%!endfunction

%!function responses = random_responses(rows, cols, orientCount)
%!  % Small whole numbers, so that ties are common, with some NaN and -0.
%!  imageCount = numel(rows);
%!  responses = cell(imageCount, orientCount);
%!  for k = 1:numel(responses)
%!    image = mod(k - 1, imageCount) + 1;
%!    r = single(round(randn(rows(image), cols(image)) * 2));
%!    r(rand(size(r)) < 0.05) = NaN;
%!    r(rand(size(r)) < 0.05) = -0;
%!    responses{k} = r;
%!  endfor
%!endfunction

%!function [pooled, traces] = pool_node_by_node(responses, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep)
%!  % Every node searched on its own: slots in order, position steps major and orientation
%!  % steps minor, each 0, -1, +1, -2, +2, ...; shifted pixels outside the image are skipped,
%!  % and only a strictly larger response replaces the running maximum, which starts at -1e10.
%!  steps = @(n) [0, reshape([-(1:n); 1:n], 1, [])];
%!  positionSteps = steps(posShiftMax);
%!  orientSteps = steps(orientShiftMax);
%!  imageCount = numel(rows);
%!  pooled = cell(imageCount, orientCount);
%!  traces = pooled;
%!  for image = 1:imageCount
%!    pooledRows = floor(rows(image) / poolStep);
%!    pooledCols = floor(cols(image) / poolStep);
%!    for o = 0:orientCount - 1
%!      theta = (3.1415926 * o) / orientCount;
%!      best = repmat(single(-1e10), pooledRows, pooledCols);
%!      slot = zeros(pooledRows, pooledCols, 'single');
%!      for i = 1:pooledRows
%!        for j = 1:pooledCols
%!          k = 0;
%!          for d = positionSteps
%!            m = d * poolStep;
%!            x = i * poolStep + floor(m * cos(theta) + 0.5);
%!            y = j * poolStep + floor(m * sin(theta) + 0.5);
%!            for e = orientSteps
%!              if x >= 1 && x <= rows(image) && y >= 1 && y <= cols(image)
%!                v = responses{image, mod(o + e, orientCount) + 1}(x, y);
%!                if v > best(i, j)
%!                  best(i, j) = v;
%!                  slot(i, j) = k;
%!                endif
%!              endif
%!              k = k + 1;
%!            endfor
%!          endfor
%!        endfor
%!      endfor
%!      pooled{image, o + 1} = best(:);
%!      traces{image, o + 1} = slot(:);
%!    endfor
%!  endfor
%!endfunction

%!test
%! % Random maps of several sizes in one call, pooled bit for bit like the node-by-node loop;
%! % values past each pooled map and the responses stay as they were.
%! randn('seed', 11); rand('seed', 12);
%! configs = {[23 9 2], [17 14 30], 6, 2, 1, 3;       % image 3 is shorter than the step
%!            [16.5 7], [11 12.49], 8, 3, 2, 2;       % sizes round half up: 17 x 11, 7 x 12
%!            [6 5], [4 9], 1, 1, 0, 1;
%!            [12 10], [10 13], 16, 3, 1, 2};
%! for c = 1:rows(configs)
%!   [rowsGiven, colsGiven, orientCount, posShiftMax, orientShiftMax, poolStep] = configs{c, :};
%!   r = floor(rowsGiven + 0.5); cl = floor(colsGiven + 0.5);
%!   responses = random_responses(r, cl, orientCount);
%!   before = cellfun(@(m) m * 1, responses, 'UniformOutput', false);
%!   [pooled, traces] = fresh_outputs(r, cl, orientCount, poolStep, 2);
%!   vindral(numel(r), rowsGiven, colsGiven, orientCount, posShiftMax, orientShiftMax, poolStep, ...
%!           responses, pooled, traces);
%!   [expectedPooled, expectedTraces] = pool_node_by_node(responses, r, cl, orientCount, ...
%!                                                        posShiftMax, orientShiftMax, poolStep);
%!   for k = 1:numel(pooled)
%!     n = numel(expectedPooled{k});
%!     assert(isequal(typecast(pooled{k}(1:n), 'uint32'), typecast(expectedPooled{k}, 'uint32')), ...
%!            'config %d, cell %d: pooled values differ', c, k);
%!     assert(isequal(traces{k}(1:n), expectedTraces{k}), 'config %d, cell %d: traces differ', c, k);
%!     assert([pooled{k}(n+1:end); traces{k}(n+1:end)], single([7; 7; 7; 7]));
%!   endfor
%!   assert(isequaln(responses, before));
%! endfor

%!test
%! % Without shifts the pooled map is the subsample at multiples of the step, traces all 0.
%! r = single(reshape(1:70, 10, 7));
%! [pooled, traces] = fresh_outputs(10, 7, 1, 3, 0);
%! vindral(1, 10, 7, 1, 0, 0, 3, {r}, pooled, traces);
%! assert(reshape(pooled{1}, 3, 2), r([3 6 9], [3 6]));
%! assert(traces{1}, zeros(6, 1, 'single'));

%!error <argument 10 \(traceMaps\) is missing> vindral(1, 1, 1, 1, 0, 0, 1, {single(1)}, {single(1)})
%!error id=vindral:tooManyOutputs x = vindral(1, 1, 1, 1, 0, 0, 1, {single(1)}, {single(1)}, {single(1)});
%!error id=vindral:outOfRange vindral(1, 1, 1, 1, 0, 0, 0, {single(1)}, {single(1)}, {single(1)})
%!error id=vindral:outOfRange vindral(1, 1, 1, 0, 0, 0, 1, {single(1)}, {single(1)}, {single(1)})
%!error id=vindral:outOfRange vindral(1, 1, 1, 2, 0, 2, 1, {single(1), single(1)}, {single(1), single(1)}, {single(1), single(1)})
%!error id=vindral:tooLarge vindral(1, 1, 1, 1, 2e9, 0, 1, {single(1)}, {single(1)}, {single(1)})
%!error id=vindral:tooFewCells vindral(2, [1 1], [1 1], 1, 0, 0, 1, {single(1), single(1)}, {single(1), single(1)}, {single(1)})
%!error id=vindral:badCell vindral(1, 1, 1, 1, 0, 0, 1, {1}, {single(1)}, {single(1)})
%!error id=vindral:tooFewValues vindral(1, 2, 2, 1, 0, 0, 1, {single([1 2 3 4])}, {single([1 2 3])}, {single([1 2 3 4])})

%!error <^vindral: argument 2 \(imageRows\), entry 2: expected a size that rounds half up to an integer from 0 to 2147483647; got 10000000000$> vindral(2, [1 1e10], [1 1], 1, 0, 0, 1, {single(1), single(1)}, {single(1), single(1)}, {single(1), single(1)})
%!# A map size beyond 32-bit indexing is refused before the shifts; within it, shifts that
%!# would carry positions of the largest side past 32 bits are refused naming that side.
%!error <^vindral: argument 2 \(imageRows\), entry 1: expected maps of at most 2147483647 values \(32-bit indexing\); got maps of 2147483647 x 2 values$> vindral(1, 2147483647, 2, 1, 1, 0, 1, {single(1)}, {single(1)}, {single(1)})
%!error <^vindral: arguments 5 \(posShiftMax\) and 7 \(poolStep\): expected posShiftMax\*poolStep of at most 2147483647 less the largest entry of imageRows and imageCols \(2147483647\); got posShiftMax 1 and poolStep 1$> vindral(1, 2147483647, 1, 1, 1, 0, 1, {single(1)}, {single(1)}, {single(1)})

%!test
%! % A refused call writes nothing, and the session goes on to a valid call.
%! [pooled, traces] = fresh_outputs(4, 6, 1, 2, 0);
%! r = {single(magic(6)(1:4, :))};
%! try
%!   vindral(1, 4, 6, 1, 1, 0, 2, r, pooled, {traces{1}(1:5)});
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'vindral:tooFewValues');
%!   assert(strfind(err.message, 'argument 10 (traceMaps), cell 1 (image 1, orientation 1)'));
%! end_try_catch
%! assert(pooled{1}, zeros(6, 1, 'single') + 7);
%! vindral(1, 4, 6, 1, 1, 0, 2, r, pooled, traces);
%! assert(pooled{1}, single([32; 32; 21; 21; 25; 25]));
%! assert(traces{1}, single([0; 1; 0; 1; 0; 1]));

%!test
%! % Output cells sharing data with each other are refused before anything is written.
%! [pooled, traces] = fresh_outputs(2, 2, 1, 1, 0);
%! try
%!   vindral(1, 2, 2, 1, 0, 0, 1, {single([1 2; 3 4])}, pooled, pooled);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'vindral:sharedData');
%! end_try_catch
%! assert(pooled{1}, zeros(4, 1, 'single') + 7);
