% Tests of crossum.mex, run by run_suite.m with the MEX folder on the path.

%!test
%! % Every entry is its sum over the rows, in row order from 0, on odd sizes with values of
%! % very different magnitudes (another order of the sums would show).
%! rand('seed', 3);
%! for sizes = [33 13 8; 1 5 3; 17 1 9; 0 4 2]'
%!   left = (rand(sizes(1), sizes(2)) - 0.5) .* 10 .^ (8 * (rand(sizes(1), sizes(2)) > 0.8));
%!   right = (rand(sizes(1), sizes(3)) - 0.5) .* 10 .^ (-7 * (rand(sizes(1), sizes(3)) > 0.7));
%!   product = zeros(sizes(2), sizes(3));
%!   crossum(sizes(1), sizes(2), sizes(3), left, right, product);
%!   expected = zeros(sizes(2), sizes(3));
%!   for i = 1:sizes(2)
%!     for j = 1:sizes(3)
%!       for l = 1:sizes(1)
%!         expected(i, j) = expected(i, j) + left(l, i) * right(l, j);
%!       end
%!     end
%!   end
%!   assert(isequal(product, expected));
%! end

%!shared args
%! args = {3, 2, 1, [1 2; 3 4; 5 6], [1; 0; 2], zeros(2, 1)};
%!test
%! a = args; crossum(a{:});
%! assert(a{6}, [11; 14]);
%!error <argument 6 \(product\) is missing> crossum(args{1:5})
%!error id=crossum:outOfRange a = args; a{2} = -1; crossum(a{:})
%!error id=crossum:tooFewValues a = args; a{5} = [1; 2]; crossum(a{:})
%!error id=crossum:wrongClass a = args; a{4} = single(a{4}); crossum(a{:})
%!error id=crossum:sharedData a = args; a{6} = a{5}; a{2} = 1; a{3} = 3; a{5} = ones(3); a{6} = a{5}; crossum(a{:})
