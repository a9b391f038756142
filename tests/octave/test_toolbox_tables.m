% Toolbox functions that compute numbers: the lookup tables for learning, reading .npy files
% and reference boxes, resizing, the filter bank and its responses, and the overlap table.

%!function n = npy_header_bytes(header)
%!  n = uint8([147, double('NUMPY'), 1, 0, mod(numel(header), 256), floor(numel(header) / 256), double(header)]);
%!endfunction

%!function file = write_npy(values, shape, fortranOrder)
%!  % Writes values (already in storage order) with a version-1 header padded to 64 bytes.
%!  if fortranOrder, order = 'True'; else, order = 'False'; end
%!  header = sprintf('{''descr'': ''<f8'', ''fortran_order'': %s, ''shape'': (%s), }', order, ...
%!                   strjoin(arrayfun(@num2str, shape, 'UniformOutput', false), ', '));
%!  header = [header, repmat(' ', 1, 63 - mod(numel(header) + 10, 64)), char(10)];
%!  file = [tempname(), '.npy'];
%!  fid = fopen(file, 'w', 'ieee-le');
%!  fwrite(fid, npy_header_bytes(header), 'uint8');
%!  fwrite(fid, values, 'double');
%!  fclose(fid);
%!endfunction

%!test
%! % Lookup tables against a direct sum, bin by bin and weight by weight.
%! density = [0.5 2 1 0.3 0.1 0.05];
%! binWidth = 0.25;
%! lambdas = [0 0.5 1 3];
%! tables = call_private('lookup_tables', density, binWidth, lambdas);
%! for k = 1:numel(lambdas)
%!   z = 0; moment = 0;
%!   for b = 1:numel(density)
%!     r = (b - 0.5) * binWidth;
%!     z = z + density(b) * exp(lambdas(k) * r) * binWidth;
%!     moment = moment + r * density(b) * exp(lambdas(k) * r) * binWidth;
%!   end
%!   assert(tables.meanResponse(k), moment / z, 1e-12);
%!   assert(tables.bias(k), log(z), 1e-12);
%! end
%! assert(tables.weight, lambdas);
%! assert(tables.length, 4);
%! assert(all(diff(tables.meanResponse) > 0));

%!test
%! % A normalized density has bias 0 at weight 0, and the mean of its bins there.
%! density = [1 3 4 2] / (10 * 0.5);
%! tables = call_private('lookup_tables', density, 0.5, [0 2]);
%! assert(tables.bias(1), 0, 1e-12);
%! assert(tables.meanResponse(1), sum(density .* [0.25 0.75 1.25 1.75]) * 0.5, 1e-12);

%!test
%! % .npy files in C order and in Fortran order read back as the same array.
%! values = reshape(1:24, [2 3 4]) + 0.5;
%! cFile = write_npy(permute(values, [3 2 1]), [2 3 4], false);
%! fFile = write_npy(values, [2 3 4], true);
%! assert(read_npy(cFile), values);
%! assert(read_npy(fFile), values);
%! delete(cFile); delete(fFile);

%!error <not a .npy file>
%! file = tempname(); fid = fopen(file, 'w'); fprintf(fid, 'hello world'); fclose(fid);
%! read_npy(file);

%!test
%! % Reference boxes: four corners counted from 0 become 1-based [top left height width].
%! file = tempname();
%! fid = fopen(file, 'w');
%! fprintf(fid, 'detection_0\n10 20\n10 29\n14 20\n14 29\ndetection_1\n0 0\n0 4\n6 0\n6 4\n');
%! fclose(fid);
%! assert(read_reference_boxes(file), [11 21 5 10; 1 1 7 5]);
%! delete(file);

%!test
%! % Resizing keeps a constant image constant and a linear ramp linear; its own size is identity.
%! assert(call_private('resize_image', 3 * ones(20, 30), 7, 11), 3 * ones(7, 11), 1e-12);
%! ramp = repmat((1:40)', 1, 8);
%! half = call_private('resize_image', ramp, 20, 8);
%! assert(half(5:15, 3), 2 * (5:15)' - 0.5, 1e-9);
%! image = rand(9, 7);
%! assert(call_private('resize_image', image, 9, 7), image, 1e-12);

%!test
%! % Filters have unit energy and no response to a flat image; responses equal a direct
%! % convolution away from the border.
%! [filters, stamps] = filter_bank(8, 4, 5);
%! assert(numel(filters), 8);
%! assert(size(stamps{3}), [9 9]);
%! for o = 1:8
%!   assert(sum(abs(filters{o}(:)).^2), 1, 1e-12);
%! end
%! flat = filter_responses(5 * ones(30, 30), filters);
%! assert(max(cellfun(@(m) max(m(:)), flat)) < 1e-10);
%! image = rand(30, 26);
%! energies = filter_responses(image, filters);
%! direct = abs(conv2(image, filters{3}, 'same')).^2;
%! assert(double(energies{3}(9:22, 9:18)), direct(9:22, 9:18), 1e-5);
%! assert(class(energies{3}), 'single');

%!test
%! % Orientation 0 oscillates down the rows: a horizontal edge excites it most.
%! filters = filter_bank(8, 5, 5);
%! image = [zeros(20, 40); ones(20, 40)];
%! energies = filter_responses(image, filters);
%! peaks = cellfun(@(m) m(20, 20), energies);
%! [~, best] = max(peaks);
%! assert(best, 1);

%!test
%! % An element always explains its own response, and the factors of (a, b) at displacement d
%! % equal those of (b, a) at -d.
%! filters = filter_bank(4, 3, 4);
%! table = call_private('overlap_table', filters, 0.2);
%! assert(size(table), [4 4]);
%! for a = 1:4
%!   assert(table{a, a}(7, 7), 0);
%!   for b = 1:4
%!     assert(table{a, b}, rot90(table{b, a}, 2));
%!   end
%! end
%! assert(table{1, 1}(1, 1), 1);
%! % The table kept from the last call is given only for the same filters and threshold.
%! other = call_private('overlap_table', filter_bank(4, 3, 5), 0.2);
%! assert(! isequal(other, table));
%! assert(! isequal(call_private('overlap_table', filters, 0.05), table));
%! assert(isequal(call_private('overlap_table', filters, 0.2), table));
