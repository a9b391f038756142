% Tests of cellum.mex, run by run_suite.m with the MEX folder on the path.

%!test
%! % Bit for bit filtrum's energies of each window alone, their square roots summed over the
%! % cells in Octave (sum(sum(block, 1), 2)); 23 x 23 windows leave a remainder of 3 pixels.
%! rand('seed', 4);
%! filters = filter_bank('orientCount', 4);
%! re = cellfun(@real, filters, 'UniformOutput', false); im = cellfun(@imag, filters, 'UniformOutput', false);
%! side = 23; count = 3; cellSize = 5; cellsPerSide = 4;
%! windows = rand(side, side, count);
%! amplitudes = zeros(cellsPerSide ^ 2, 4, count);
%! cellum(side, count, 4, 4, windows, re, im, cellSize, cellsPerSide, amplitudes);
%! expected = zeros(size(amplitudes));
%! for w = 1:count
%!   energies = fresh_maps([side side], 4);
%!   filtrum(side, side, 4, 4, windows(:, :, w), re, im, energies);
%!   for o = 1:4
%!     for cc = 1:cellsPerSide
%!       for cr = 1:cellsPerSide
%!         block = sqrt(double(energies{o}(1 + (cr - 1) * cellSize + (1:cellSize), ...
%!                                         1 + (cc - 1) * cellSize + (1:cellSize))));
%!         expected(cr + (cc - 1) * cellsPerSide, o, w) = sum(sum(block, 1), 2);
%!       end
%!     end
%!   end
%! end
%! assert(isequal(amplitudes, expected));

%!shared args
%! args = {6, 1, 1, 1, ones(6), {ones(3)}, {zeros(3)}, 2, 3, zeros(9, 1)};
%!test
%! a = args; cellum(a{:});
%! assert(a{10}, 4 * 9 * ones(9, 1));              % energy 9 everywhere: amplitude 3
%!test
%! % Windows of side 0 hold no cell: nothing is read or written.
%! cellum(0, 2, 1, 1, [], {ones(3)}, {zeros(3)}, 1, 0, []);
%!error <argument 10 \(amplitudes\) is missing> cellum(args{1:9})
%!error id=cellum:outOfRange a = args; a{9} = 4; cellum(a{:})
%!error id=cellum:tooFewValues a = args; a{5} = ones(5); cellum(a{:})
%!error id=cellum:tooFewCells a = args; a{3} = 2; cellum(a{:})
%!error id=cellum:sharedData a = args; a{10} = a{5}; a{9} = 2; cellum(a{:})
