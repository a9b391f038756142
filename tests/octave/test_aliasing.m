% Outputs made fresh right before the call (by zeros, ones, rand, or an x * 1 copy) get
% exactly the plug-ins' results, also when the call sits in a function run more than once:
% every run starts from fresh arrays, never from what the previous run wrote. Run by
% run_suite.m with the MEX folder on the path.

%!function out = saturated(v, s)
%!  out = s .* ((2 ./ (exp((-2 .* v) ./ s) + 1)) - 1);
%!endfunction

%!function [maps, drawn] = saturate_fresh(s)
%!  % Maps from rand, zeros and ones, and an x * 1 copy of the random one as drawn.
%!  maps = {rand(3, 4, 'single') * 4 - 2, zeros(3, 4, 'single'), ones(3, 4, 'single')};
%!  drawn = maps{1} * 1;
%!  fennock(1, 3, 4, 3, s, maps);
%!endfunction

%!function histogram = density_fresh(maps)
%!  % A histogram of zeros made inside the function, run after run.
%!  histogram = zeros(1, 4);
%!  cobrint(1, 1, maps, 0, 5, 5, 0.5, 4, histogram, 2);
%!endfunction

%!function [best, rows, cols, proto] = best_fresh(scores)
%!  % Outputs from zeros, ones and an x * 1 copy of a literal constant, which stays as written.
%!  proto = [7 7];
%!  best = zeros(1, 2, 'single');
%!  rows = ones(1, 2);
%!  cols = proto * 1;
%!  lurvane(2, [4 4], [5 5], 1, 0, 0, scores, best, rows, cols);
%!endfunction

%!test
%! % fennock: each run saturates its own fresh maps bit for bit.
%! rand('seed', 11);
%! for run = 1:2
%!   [maps, drawn] = saturate_fresh(1.5);
%!   assert(isequal(maps{1}, single(saturated(double(drawn), 1.5))));
%!   assert(isequal(maps{2}, zeros(3, 4, 'single')));
%!   assert(isequal(maps{3}, repmat(single(saturated(1, 1.5)), 3, 4)));
%! end

%!test
%! % cobrint: the histogram of every run is the density of that run's maps alone.
%! randn('seed', 12);
%! for run = 1:2
%!   maps = {randn(5, 5) * 2};
%!   window = saturated(maps{1}(1:4, 1:4), 2)(:);
%!   bins = min(max(floor(window / 0.5), 0), 3);
%!   expected = accumarray(bins + 1, 1, [4 1])' / (0.5 * numel(window));
%!   assert(isequal(density_fresh(maps), expected));
%! end

%!test
%! % lurvane: every run writes the best score and its anchor into fresh outputs.
%! for run = 1:2
%!   first = zeros(4, 5, 'single');
%!   first(3, 2) = run;
%!   second = zeros(4, 5, 'single');
%!   second(1, 4) = 10 + run;
%!   [best, rows, cols, proto] = best_fresh({first, second});
%!   assert(isequal(proto, [7 7]));
%!   assert(isequal(best, single([run, 10 + run])));
%!   assert(isequal(rows, [3 1]));
%!   assert(isequal(cols, [2 4]));
%! end
