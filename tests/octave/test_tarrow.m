% Tests of tarrow.mex, run by run_suite.m with the MEX folder on the path.

%!function sketches = drawn_plainly(rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep, h, stamps, ...
%!                                   orients, rowOffsets, colOffsets, pooled, traces, anchorRows, anchorCols, s)
%!  % Every element on the pooled map is drawn where its slot points: slot k is position step
%!  % floor(k / (2*orientShiftMax + 1)) and orientation step mod(k, 2*orientShiftMax + 1), each
%!  % index standing for 0, -1, +1, -2, +2, ...; the stamp of the shifted orientation, scaled by
%!  % sqrt(saturated(r, s)), is max-stamped into a cleared sketch.
%!  stepOf = @(index) (mod(index, 2) == 1) .* -((index + 1) / 2) + (mod(index, 2) == 0) .* (index / 2);
%!  imageCount = numel(rows);
%!  sketches = cell(1, imageCount);
%!  for image = 1:imageCount
%!    sketch = zeros(rows(image), cols(image), 'single');
%!    pooledRows = floor(rows(image) / poolStep);
%!    pooledCols = floor(cols(image) / poolStep);
%!    for k = 1:numel(orients)
%!      o = floor(orients(k) + 0.5);
%!      x = floor(anchorRows(image) + 0.5) + floor(rowOffsets(k) + 0.5);
%!      y = floor(anchorCols(image) + 0.5) + floor(colOffsets(k) + 0.5);
%!      if isnan(x) || isnan(y) || x < 1 || x > pooledRows || y < 1 || y > pooledCols
%!        continue;
%!      endif
%!      slot = double(traces{image, o + 1}(x, y));
%!      d = stepOf(floor(slot / (2 * orientShiftMax + 1)));
%!      e = stepOf(mod(slot, 2 * orientShiftMax + 1));
%!      theta = (3.1415926 * o) / orientCount;
%!      m = d * poolStep;
%!      cx = x * poolStep + floor(m * cos(theta) + 0.5);
%!      cy = y * poolStep + floor(m * sin(theta) + 0.5);
%!      os = mod(o + e, orientCount);
%!      r = double(pooled{image, o + 1}(x, y));
%!      t = saturated(r, s);
%!      factor = sqrt(double(t));
%!      for xi = cx - h:cx + h
%!        for yi = cy - h:cy + h
%!          if xi >= 1 && xi <= rows(image) && yi >= 1 && yi <= cols(image)
%!            v = single(stamps{os + 1}(xi - cx + h + 1, yi - cy + h + 1) * factor);
%!            if v > sketch(xi, yi)
%!              sketch(xi, yi) = v;
%!            endif
%!          endif
%!        endfor
%!      endfor
%!    endfor
%!    sketches{image} = sketch;
%!  endfor
%!endfunction

%!test
%! % The detection chain on random responses: vindral pools, tarrow draws; the sketches equal
%! % the plain Octave drawing bit for bit, and the pooled and trace maps stay as they were.
%! randn('seed', 21); rand('seed', 22);
%! rows = [26 19]; cols = [22 24]; orientCount = 6; posShiftMax = 2; orientShiftMax = 1; poolStep = 2; h = 2;
%! responses = cell(2, orientCount);
%! for k = 1:numel(responses)
%!   image = mod(k - 1, 2) + 1;
%!   responses{k} = single(randn(rows(image), cols(image)) * 2);
%! endfor
%! [pooled, traces] = pooled_by_vindral(responses, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep);
%! stamps = arrayfun(@(o) rand(2*h + 1) - 0.2, 1:orientCount, 'UniformOutput', false);
%! orients = [0 5 2 3 1 4 2 0 5];
%! rowOffsets = [0 1 2 3 4 5 6 -1 9];
%! colOffsets = [1 1 2 3.5 -0.5 6 2 4 3];
%! anchorRows = [1 -0.5]; anchorCols = [2.5 1];
%! sketches = {zeros(rows(1), cols(1), 'single') + 5, zeros(rows(2) * cols(2) + 2, 1, 'single') + 5};
%! pooledBefore = unshared(pooled); tracesBefore = unshared(traces);
%! tarrow(2, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep, h, stamps, numel(orients), ...
%!        orients, rowOffsets, colOffsets, pooled, traces, sketches, anchorRows, anchorCols, 1.5);
%! expected = drawn_plainly(rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep, h, stamps, ...
%!                          orients, rowOffsets, colOffsets, pooled, traces, anchorRows, anchorCols, 1.5);
%! assert(isequal(typecast(sketches{1}(:), 'uint32'), typecast(expected{1}(:), 'uint32')));
%! assert(isequal(typecast(sketches{2}(1:end-2), 'uint32'), typecast(expected{2}(:), 'uint32')));
%! assert(sketches{2}(end-1:end), single([5; 5]));
%! assert(nnz(sketches{1}) > 0 && nnz(sketches{2}) > 0);
%! assert(isequal(pooled, pooledBefore) && isequal(traces, tracesBefore));

%!test
%! % One strong response: the element finds it through its trace and is drawn centred on it,
%! % in the orientation it was found in; an image with a NaN anchor is only cleared.
%! rows = [20 20]; cols = [16 16]; orientCount = 4; poolStep = 2; h = 1;
%! responses = arrayfun(@(k) zeros(20, 16, 'single') + 0.01, zeros(2, orientCount), 'UniformOutput', false);
%! responses{1, 2}(10, 8) = 3;          % orientation 1, reached from orientation 2 at pooled (5, 4)
%! [pooled, traces] = pooled_by_vindral(responses, rows, cols, orientCount, 1, 1, poolStep);
%! stamps = arrayfun(@(o) ones(3) * o, 1:orientCount, 'UniformOutput', false);
%! sketches = {zeros(20, 16, 'single'), ones(20, 16, 'single')};
%! tarrow(2, rows, cols, orientCount, 1, 1, poolStep, h, stamps, 1, 2, 3, 2, pooled, traces, sketches, [2 NaN], [2 2], 1);
%! expected = zeros(20, 16, 'single');
%! expected(9:11, 7:9) = single(2 * sqrt(double(saturated(3, 1))));
%! assert(sketches{1}, expected);
%! assert(sketches{2}, zeros(20, 16, 'single'));

%!test
%! % No elements (empty element arrays): the sketch is cleared, nothing else happens.
%! sketches = {ones(3, 4, 'single')};
%! tarrow(1, 3, 4, 1, 0, 0, 1, 0, {1}, 0, [], [], [], {ones(3, 4, 'single')}, {zeros(3, 4, 'single')}, ...
%!        sketches, 1, 1, 1);
%! assert(sketches{1}, zeros(3, 4, 'single'));

%!shared args
%! % A valid call: 1 image of 6 x 6, 2 orientations, poolStep 2, one element at pooled (2, 2).
%! args = {1, 6, 6, 2, 1, 1, 2, 1, {ones(3), ones(3)}, 1, 1, 1, 1, ...
%!         {ones(3, 'single'), ones(3, 'single')}, {zeros(3, 'single'), zeros(3, 'single')}, ...
%!         {zeros(6, 'single')}, 1, 1, 1};
%!error <argument 19 \(saturationLevel\) is missing> tarrow(args{1:18})
%!error id=tarrow:tooManyOutputs x = tarrow(args{:});
%!error id=tarrow:outOfRange a = args; a{7} = 0; tarrow(a{:})
%!error id=tarrow:outOfRange a = args; a{6} = 2; tarrow(a{:})
%!error id=tarrow:outOfRange a = args; a{11} = 2; tarrow(a{:})
%!error id=tarrow:outOfRange a = args; a{17} = Inf; tarrow(a{:})
%!error id=tarrow:outOfRange a = args; a{19} = 0; tarrow(a{:})
%!error <position \(2, 2\): expected a shift slot> a = args; a{15}{2}(2, 2) = 9; tarrow(a{:})
%!error id=tarrow:tooFewValues a = args; a{9}{2} = ones(2); tarrow(a{:})
%!error id=tarrow:tooFewValues a = args; a{16} = {zeros(5, 'single')}; tarrow(a{:})
%!error id=tarrow:badCell a = args; a{16} = {zeros(6)}; tarrow(a{:})
%!error id=tarrow:tooFewCells a = args; a{14} = {ones(3, 'single')}; tarrow(a{:})
%!error id=tarrow:wrongClass a = args; a{17} = single(1); tarrow(a{:})
%!error id=tarrow:sharedData a = args; p = zeros(6, 'single'); a{14}{1} = p; a{16} = {p}; tarrow(a{:})

%!test
%! % A refused call leaves the sketch as it was; the same call with a valid trace then draws.
%! sketches = {zeros(6, 'single') + 4};
%! traces = {zeros(3, 'single'), zeros(3, 'single') + 0.5};
%! try
%!   tarrow(1, 6, 6, 2, 1, 1, 2, 1, {ones(3), ones(3)}, 1, 1, 1, 1, {ones(3, 'single'), ones(3, 'single')}, ...
%!          traces, sketches, 1, 1, 1);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'tarrow:outOfRange');
%!   assert(strfind(err.message, 'argument 15 (traceMaps), cell 2 (image 1, orientation 2), position (2, 2)'));
%! end_try_catch
%! assert(sketches{1}, zeros(6, 'single') + 4);
%! tarrow(1, 6, 6, 2, 1, 1, 2, 1, {ones(3), ones(3)}, 1, 1, 1, 1, {ones(3, 'single'), ones(3, 'single')}, ...
%!        {zeros(3, 'single'), zeros(3, 'single')}, sketches, 1, 1, 1);
%! assert(sketches{1}(3:5, 3:5), repmat(single(sqrt(double(saturated(1, 1)))), 3, 3));
