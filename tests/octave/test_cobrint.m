% Tests of cobrint.mex, run by run_suite.m with the MEX folder on the path.

%!function maps = fresh_grid(imageCount, orientCount, rows, cols)
%!  % One separately allocated double array per cell.
%!  maps = cell(imageCount, orientCount);
%!  for k = 1:numel(maps)
%!    maps{k} = randn(rows, cols) * 3;
%!  end
%!endfunction

%!function out = saturated(v, s)
%!  out = s .* ((2 ./ (exp((-2 .* v) ./ s) + 1)) - 1);
%!endfunction

%!function density = expected_density(maps, border, binWidth, binCount)
%!  % Bins of the saturated values inside the window, negative ones in the first bin and
%!  % the last bin from its lower edge up (NaN included), divided by width times count.
%!  [rows, cols] = size(maps{1});
%!  values = cellfun(@(m) m(border+1:rows-border-1, border+1:cols-border-1)(:), maps, ...
%!                   'UniformOutput', false);
%!  values = vertcat(values{:});
%!  f = floor(values / binWidth);
%!  bins = f;
%!  bins(f < 0) = 0;
%!  bins(~(binCount - 1 > f)) = binCount - 1;
%!  density = accumarray(bins + 1, 1, [binCount 1])' ./ (binWidth * numel(values));
%!endfunction

%!test
%! % Maps saturated and density tallied bit for bit, for several borders and bin layouts.
%! randn('seed', 31);
%! for c = {[2 0.3 8 3], [0 0.125 20 2.5], [1 0.7 1 1.5], [3 0.05 50 -2]}
%!   [border, binWidth, binCount, s] = num2cell(c{1}){:};
%!   maps = fresh_grid(3, 4, 13, 9);
%!   maps{1}(1:3) = [NaN Inf -Inf];
%!   before = cellfun(@(m) m * 1, maps, 'UniformOutput', false);
%!   histogram = zeros(1, binCount + 2);
%!   cobrint(3, 4, maps, border, 13, 9, binWidth, binCount, histogram, s);
%!   expectedMaps = cellfun(@(m) saturated(m, s), before, 'UniformOutput', false);
%!   assert(isequaln(maps, expectedMaps));
%!   assert(isequal(histogram, [expected_density(expectedMaps, border, binWidth, binCount) 0 0]));
%! end

%!error id=cobrint:tooFewArguments cobrint(1, 1, {ones(3)}, 0, 3, 3, 0.5, 2, zeros(1, 2))
%!error id=cobrint:outOfRange cobrint(1, 1, {ones(3)}, -1, 3, 3, 0.5, 2, zeros(1, 2), 1)
%!error id=cobrint:outOfRange cobrint(1, 1, {ones(3)}, 0, 3, 3, 0, 2, zeros(1, 2), 1)
%!error id=cobrint:wrongClass cobrint(1, 1, {ones(3)}, 0, 3, 3, 0.5, 2, sparse(zeros(1, 2)), 1)
%!error id=cobrint:badCell cobrint(1, 1, {sparse(ones(3))}, 0, 3, 3, 0.5, 2, zeros(1, 2), 1)
%!error id=cobrint:outOfRange cobrint(1, 1, {ones(3)}, 0, 3, 3, Inf, 2, zeros(1, 2), 1)
%!error id=cobrint:outOfRange cobrint(1, 1, {ones(3)}, 0, 3, 3, NaN, 2, zeros(1, 2), 1)
%!error id=cobrint:outOfRange cobrint(1, 1, {ones(3)}, 0, 3, 3, 0.5, 0, zeros(1, 2), 1)
%!error id=cobrint:outOfRange cobrint(1, 1, {ones(3)}, 0, 3, 3, 0.5, 2, zeros(1, 2), 0)
%!error id=cobrint:tooFewValues cobrint(1, 1, {ones(3)}, 0, 3, 3, 0.5, 3, zeros(1, 2), 1)
%!error id=cobrint:wrongClass cobrint(1, 1, {ones(3)}, 0, 3, 3, 0.5, 2, zeros(1, 2, 'single'), 1)
%!error id=cobrint:badCell cobrint(1, 1, {ones(3, 'single')}, 0, 3, 3, 0.5, 2, zeros(1, 2), 1)
%!error id=cobrint:tooFewValues cobrint(1, 1, {ones(2)}, 0, 3, 3, 0.5, 2, zeros(1, 2), 1)
%!error id=cobrint:tooFewCells cobrint(2, 1, {ones(3)}, 0, 3, 3, 0.5, 2, zeros(1, 2), 1)
%!error id=cobrint:tooLarge cobrint(1, 1, {ones(3)}, 0, 1e5, 1e5, 0.5, 2, zeros(1, 2), 1)

%!test
%! % A sparse scalar counts as its value.
%! h = zeros(1, 2);
%! cobrint(sparse(1), 1, {0.5 * ones(3)}, 0, 3, 3, 0.5, 2, h, 1);
%! assert(h, [2 0]);

%!test
%! % A refused call writes nothing, and the session goes on to a valid call.
%! maps = {[1 2; 3 4], [5 6; 7 8]};
%! histogram = zeros(1, 2);
%! try
%!   cobrint(1, 2, maps, 0, 2, 2, 0.5, 2, maps{2}, 1);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'cobrint:sharedData');
%! end
%! assert(maps, {[1 2; 3 4], [5 6; 7 8]});
%! cobrint(1, 2, maps, 0, 2, 2, 0.5, 2, histogram, 1);
%! assert(maps{2}, saturated([5 6; 7 8], 1));
%! assert(histogram, [0 2] / (0.5 * 2));
