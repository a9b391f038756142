% Tests of scalum.mex, run by run_suite.m with the MEX folder on the path.

%!function resized = by_scalum(image, Sc, Sr)
%!  % scalum with the taps of Sc and Sr listed as its help says.
%!  [colSources, colOutputs, colWeights] = find(Sc');
%!  [rowSources, rowOutputs, rowWeights] = find(Sr');
%!  resized = zeros(rows(Sr), rows(Sc));
%!  scalum(rows(image), columns(image), rows(Sr), rows(Sc), image, ...
%!         accumarray(colOutputs, 1, [rows(Sc), 1]), colSources, colWeights, ...
%!         accumarray(rowOutputs, 1, [rows(Sr), 1]), rowSources, rowWeights, resized);
%!endfunction

%!test
%! % Random sparse matrices (some outputs without taps) on odd sizes, shrinking and enlarging:
%! % bit for bit Octave's products, either way round.
%! rand('seed', 5);
%! for sizes = [37 29 41 23; 64 48 17 90; 5 300 211 7]'
%!   image = rand(sizes(1), sizes(2)) - 0.3;
%!   Sc = sprand(sizes(4), sizes(2), 0.2); Sr = sprand(sizes(3), sizes(1), 0.1);
%!   Sc(3, :) = 0;
%!   resized = by_scalum(image, Sc, Sr);
%!   assert(isequal(resized, Sr * (image * Sc')));
%!   assert(isequal(resized, full(((image * Sc')' * Sr')')));
%! end

%!shared args
%! args = {4, 4, 4, 2, magic(4), [2 2], [1 2 3 4], [0.5 0.5 0.5 0.5], ones(4, 1), 1:4, ones(1, 4), ...
%!         zeros(4, 2)};
%!test
%! a = args; scalum(a{:});
%! assert(a{12}, [9 8; 8 9; 8 9; 9 8]);
%!error <argument 12 \(resized\) is missing> scalum(args{1:11})
%!error id=scalum:outOfRange a = args; a{7} = [1 2 3 5]; scalum(a{:})
%!error id=scalum:outOfRange a = args; a{6} = [2 -1]; scalum(a{:})
%!error id=scalum:tooFewValues a = args; a{6} = [2 3]; scalum(a{:})
%!error id=scalum:tooFewValues a = args; a{5} = magic(3); scalum(a{:})
%!error id=scalum:wrongClass a = args; a{12} = single(a{12}); scalum(a{:})
%!error id=scalum:sharedData a = args; a{12} = a{5}; a{3} = 4; a{4} = 4; a{6} = ones(1, 4); scalum(a{:})
%!error id=scalum:tooLarge scalum(65536, 1, 1, 65536, 0, zeros(1, 65536), [], [], 0, [], [], 0)
