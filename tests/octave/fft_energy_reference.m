function responses = fft_energy_reference(image, filters)
% FFT_ENERGY_REFERENCE  Energies of an image's responses to a filter bank, computed by FFT:
% the reference that filtrum and filter_responses are held to.
%
%   responses = fft_energy_reference(image, filters)
%
%   Convolves the image with every filter (the image padded by replicating its edges) and
%   returns the energy |response|^2 of each as a single-precision map of the image's size.
%   The transforms run in single precision, at lengths with no prime factor above 5: a
%   computation of its own, sharing nothing with filtrum's sums but the definition.
%
%   Arguments:
%     image      real 2-D array.
%     filters    cell array of equally sized square filters of odd side 2h+1, complex or real.
%   Returns:
%     responses  1 x numel(filters) cell of single arrays of size(image).

  half = (size(filters{1}, 1) - 1) / 2;
  [rows, cols] = size(image);
  padded = double(image([ones(1, half), 1:rows, rows * ones(1, half)], ...
                        [ones(1, half), 1:cols, cols * ones(1, half)]));
  fftRows = fast_length(rows + 4 * half);
  fftCols = fast_length(cols + 4 * half);
  spectrum = fft2(single(padded), fftRows, fftCols);
  % The spectrum of a small filter zero-padded to the transform size is a product with two
  % thin DFT matrices, much cheaper than a transform of the padded filter.
  side = 2 * half + 1;
  rowDft = single(exp(-2i * pi * (0:fftRows - 1)' * (0:side - 1) / fftRows));
  colDft = single(exp(-2i * pi * (0:side - 1)' * (0:fftCols - 1) / fftCols));
  responses = cell(1, numel(filters));
  for o = 1:numel(filters)
    full = ifft2(spectrum .* (rowDft * single(filters{o}) * colDft));
    inside = full(2 * half + (1:rows), 2 * half + (1:cols));
    responses{o} = real(inside).^2 + imag(inside).^2;
  end
end

function n = fast_length(minimum)
% The smallest length of at least minimum whose only prime factors are 2, 3 and 5: the
% transform is fastest at such lengths.
  persistent lengths
  if isempty(lengths) || lengths(end) < minimum
    limit = 2^nextpow2(max(minimum, 4096));
    [a, b, c] = ndgrid(2.^(0:log2(limit)), 3.^(0:floor(log(limit) / log(3))), ...
                       5.^(0:floor(log(limit) / log(5))));
    lengths = sort(a(:) .* b(:) .* c(:));
    lengths = lengths(lengths <= limit);
  end
  n = lengths(find(lengths >= minimum, 1));
end
