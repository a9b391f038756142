% Tests of filtrum.mex, run by run_suite.m with the MEX folder on the path: its energies agree
% with the FFT reference (fft_energy_reference.m) within 1e-5 of each map's largest energy, on
% random and real images, odd sizes and every orientation; the thread count does not change a
% bit; malformed calls are refused before anything is written.

%!shared tolerance, dataDir, fetched
%! tolerance = 1e-5;
%! root = fileparts(fileparts(fileparts(which('run_suite'))));
%! dataDir = fullfile(root, 'data');
%! [status, output] = system(sprintf('"%s" "%s" 2>&1', fullfile(root, 'scripts', 'fetch-data.sh'), dataDir));
%! fetched = status == 0;
%! if ~fetched
%!   printf('SKIPPED: the real-image tests need the Debian packages'' data, which could not be fetched:\n%s\n', output);
%! end

%!function maps = energies_of(image, filters)
%!  % filtrum's maps of the image for a cell of complex filters, each map made fresh.
%!  [rows, cols] = size(image);
%!  maps = cell(1, numel(filters));
%!  for o = 1:numel(filters)
%!    maps{o} = zeros(rows, cols, 'single');
%!  end
%!  half = (size(filters{1}, 1) - 1) / 2;
%!  filtrum(rows, cols, numel(filters), half, double(image), cellfun(@real, filters, 'UniformOutput', false), ...
%!          cellfun(@imag, filters, 'UniformOutput', false), maps);
%!endfunction

%!function assert_near_reference(maps, image, filters, tolerance, label)
%!  % Every map within tolerance times its largest reference energy of the FFT reference.
%!  reference = fft_energy_reference(image, filters);
%!  for o = 1:numel(filters)
%!    assert(class(maps{o}), 'single');
%!    assert(size(maps{o}), size(image));
%!    largest = max(double(reference{o}(:)));
%!    difference = max(abs(double(maps{o}(:)) - double(reference{o}(:))));
%!    assert(largest > 0, '%s, orientation %d: the reference map is zero', label, o);
%!    assert(difference <= tolerance * largest, ...
%!           '%s, orientation %d: differs from the FFT reference by %g, %g of its largest energy', ...
%!           label, o, difference, difference / largest);
%!  end
%!endfunction

%!function filters = random_filters(count, half)
%!  % Complex filters of random values, none of which sums to zero along a row or column, so
%!  % that no map of a one-row or one-column image vanishes.
%!  filters = cell(1, count);
%!  for o = 1:count
%!    filters{o} = 0.5 + rand(2 * half + 1) + 1i * (rand(2 * half + 1) - 0.25);
%!  end
%!endfunction

%!test
%! % Random images of odd sizes, single rows and columns among them, with random filters of
%! % several half widths (wider than the image too): every orientation near the reference.
%! seed = 20261208;
%! rand('seed', seed);
%! sizes = [1 1; 1 9; 9 1; 2 3; 17 31; 32 33; 47 65; 100 37];
%! for half = [0 1 2 4 5]
%!   for k = 1:rows(sizes)
%!     image = rand(sizes(k, :)) * 3 - 1;
%!     filters = random_filters(3, half);
%!     label = sprintf('seed %d, %d x %d, filterHalf %d', seed, sizes(k, :), half);
%!     assert_near_reference(energies_of(image, filters), image, filters, tolerance, label);
%!   end
%! end

%!test
%! % The toolbox's filter banks on random images of odd sizes, every orientation.
%! seed = 7;
%! rand('seed', seed);
%! banks = {filter_bank(), filter_bank(6, 6, 7), filter_bank(4, 2, 3)};
%! for b = 1:numel(banks)
%!   for shape = {[45 71], [64 33], [129 5]}
%!     image = rand(shape{1});
%!     label = sprintf('seed %d, bank %d, %d x %d', seed, b, shape{1});
%!     assert_near_reference(energies_of(image, banks{b}), image, banks{b}, tolerance, label);
%!   end
%! end

%!test
%! % Real images: the Solvay photo whole (926 x 1280), a crop of odd size and a scale of the
%! % demo's search, and the astronaut portrait, with the default bank.
%! if ~fetched, return; end
%! filters = filter_bank();
%! photo = read_image(fullfile(dataDir, '1280px-Solvay_conference_1927.png'));
%! portrait = read_image(fullfile(dataDir, 'astronaut.png'));
%! images = {photo, photo(301:633, 101:557), call_private('resize_image', photo, 588, 813), portrait};
%! labels = {'the photo', 'a crop of the photo', 'the photo at 588 x 813', 'the portrait'};
%! for k = 1:numel(images)
%!   assert_near_reference(energies_of(images{k}, filters), images{k}, filters, tolerance, labels{k});
%! end

%!test
%! % The edges are repeated outward: a filter of one tap at the corner (1, 1) gives the square
%! % of image(x + h, y + h), the nearest pixel inside where that lies beyond the image.
%! image = reshape(1:35, 5, 7);
%! half = 2;
%! tap = zeros(5); tap(1, 1) = 1;
%! maps = {zeros(5, 7, 'single')};
%! filtrum(5, 7, 1, half, image, {tap}, {zeros(5)}, maps);
%! shifted = image(min((1:5) + half, 5), min((1:7) + half, 7));
%! assert(maps{1}, single(shifted .^ 2));

%!test
%! % filter_responses keeps its calling form and results: a 1 x orientCount cell of single maps
%! % of the image's size, near the reference, for a double and an integer-class image alike.
%! filters = filter_bank('orientCount', 4);
%! rand('seed', 3);
%! image = rand(37, 52);
%! responses = filter_responses(image, filters);
%! assert(size(responses), [1 4]);
%! assert_near_reference(responses, image, filters, tolerance, 'filter_responses');
%! bytes = uint8(image * 255);
%! assert_near_reference(filter_responses(bytes, filters), double(bytes), filters, tolerance, ...
%!                       'filter_responses of uint8');

%!test
%! % OMP_NUM_THREADS sets the thread count of a session; 1 and 3 threads write the very bits
%! % that this session's threads write, for an image large enough to be shared among threads.
%! rand('seed', 11);
%! image = rand(181, 263);
%! filters = filter_bank();
%! here = energies_of(image, filters);
%! folder = tempname();
%! mkdir(folder);
%! unwind_protect
%!   save('-binary', fullfile(folder, 'input.bin'), 'image', 'filters');
%!   script = sprintf(['addpath(''%s''); load(''%s''); maps = cell(1, 8); for o = 1:8, ' ...
%!                     'maps{o} = zeros(181, 263, ''single''); end; filtrum(181, 263, 8, 4, image, ' ...
%!                     'cellfun(@real, filters, ''UniformOutput'', false), cellfun(@imag, filters, ' ...
%!                     '''UniformOutput'', false), maps); save(''-binary'', ''%%s'', ''maps'');'], ...
%!                    fileparts(which('filtrum')), fullfile(folder, 'input.bin'));
%!   for threads = [1 3]
%!     output = fullfile(folder, sprintf('maps%d.bin', threads));
%!     command = sprintf('OMP_NUM_THREADS=%d octave-cli --no-history --norc --quiet --eval "%s"', ...
%!                       threads, sprintf(script, output));
%!     [status, text] = system(command);
%!     assert(status, 0, text);
%!     loaded = load(output);
%!     for o = 1:8
%!       assert(isequal(typecast(loaded.maps{o}(:), 'uint32'), typecast(here{o}(:), 'uint32')), ...
%!              '%d threads: orientation %d differs', threads, o);
%!     end
%!   end
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir(false, 'local');
%!   rmdir(folder, 's');
%! end_unwind_protect

%!test
%! % Empty images and no orientations write nothing; arguments past the eighth are ignored.
%! maps = {single([1 2 3])};
%! filtrum(0, 3, 1, 1, zeros(0, 3), {zeros(3)}, {zeros(3)}, maps);
%! filtrum(3, 0, 1, 1, zeros(3, 0), {zeros(3)}, {zeros(3)}, maps);
%! filtrum(3, 1, 0, 1, [1 2 3], {}, {}, {});
%! assert(maps{1}, single([1 2 3]));
%! filtrum(3, 1, 1, 0, [1 2 3], {2}, {0}, maps, 'ignored', {});
%! assert(maps{1}, single([4 16 36]));

%!error <argument 8 \(responseMaps\) is missing> filtrum(1, 1, 1, 0, 1, {1}, {0})
%!error id=filtrum:tooFewArguments filtrum()
%!error id=filtrum:tooManyOutputs x = filtrum(1, 1, 1, 0, 1, {1}, {0}, {single(0)});
%!error id=filtrum:outOfRange filtrum(-1, 1, 1, 0, 1, {1}, {0}, {single(0)})
%!error id=filtrum:outOfRange filtrum(1, 1, 1, NaN, 1, {1}, {0}, {single(0)})
%!error id=filtrum:notScalar filtrum(1, 1, [1 1], 0, 1, {1}, {0}, {single(0)})
%!error id=filtrum:notScalar filtrum(1, 1, 1, 1i, 1, {1}, {0}, {single(0)})
%!error id=filtrum:wrongClass filtrum(1, 1, 1, 0, single(1), {1}, {0}, {single(0)})
%!error id=filtrum:wrongClass filtrum(1, 1, 1, 0, 1i, {1}, {0}, {single(0)})
%!error id=filtrum:tooFewValues filtrum(2, 2, 1, 0, [1 2 3], {1}, {0}, {single([0 0 0 0])})
%!error id=filtrum:notCell filtrum(1, 1, 1, 0, 1, 1, {0}, {single(0)})
%!error id=filtrum:tooFewCells filtrum(1, 1, 2, 0, 1, {1, 1}, {0}, {single(0), single(0)})
%!error id=filtrum:badCell filtrum(1, 1, 1, 0, 1, {single(1)}, {0}, {single(0)})
%!error id=filtrum:badCell filtrum(1, 1, 1, 0, 1, {1 + 1i}, {0}, {single(0)})
%!error id=filtrum:badCell filtrum(1, 1, 1, 0, 1, {1}, {0}, {0})
%!error id=filtrum:tooFewValues filtrum(1, 1, 1, 1, 1, {ones(3)}, {ones(2)}, {single(0)})
%!error id=filtrum:tooLarge filtrum(46340, 46340, 1, 1, 1, {ones(3)}, {ones(3)}, {single(0)})
%!error id=filtrum:tooLarge filtrum(1e5, 1e5, 1, 0, 1, {1}, {0}, {single(0)})

%!error <^filtrum: argument 4 \(filterHalf\): expected a number that rounds half up to an integer from 0 to 23169; got 23170$> filtrum(1, 1, 1, 23170, 1, {1}, {0}, {single(0)})
%!error <^filtrum: argument 4 \(filterHalf\): expected a half width h for which the image padded by h on every side, \(mapRows \+ 2h\) x \(mapCols \+ 2h\), holds at most 2147483647 values \(32-bit indexing\); got 1, a padded image of 46342 x 46342 values$> filtrum(46340, 46340, 1, 1, 1, {ones(3)}, {ones(3)}, {single(0)})
%!error <^filtrum: argument 7 \(filterImag\), cell 2: expected a real double array of at least 9 values; got a 2x2 double array$> filtrum(1, 1, 2, 1, 1, {ones(3), ones(3)}, {ones(3), ones(2)}, {single(0), single(0)})
%!error <^filtrum: argument 5 \(image\): expected a real double array of at least 6 values; got a 2x2 double array$> filtrum(2, 3, 1, 0, ones(2), {1}, {0}, {zeros(2, 3, 'single')})

%!test
%! % A refused call writes nothing, and the session goes on to a valid call.
%! maps = {zeros(2, 2, 'single'), zeros(2, 2, 'single')};
%! try
%!   filtrum(2, 2, 2, 0, [1 2; 3 4], {1, 1}, {0, 0}, {maps{1}, double(maps{2})});
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'filtrum:badCell');
%!   assert(strfind(err.message, 'argument 8 (responseMaps), cell 2'));
%! end
%! assert(maps, {zeros(2, 2, 'single'), zeros(2, 2, 'single')});
%! filtrum(2, 2, 2, 0, [1 2; 3 4], {1, 1}, {0, 3}, maps);
%! assert(maps, {single([1 4; 9 16]), single(10 * [1 4; 9 16])});

%!test
%! % Maps that share one array would each receive another filter's energies: refused.
%! maps = repmat({zeros(2, 2, 'single')}, 1, 2);
%! try
%!   filtrum(2, 2, 2, 0, [1 2; 3 4], {1, 2}, {0, 0}, maps);
%!   error('not refused');
%! catch err
%!   assert(err.identifier, 'filtrum:sharedData');
%! end
%! assert(maps{1}, zeros(2, 2, 'single'));
