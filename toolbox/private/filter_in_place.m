function filter_in_place(image, filters, responses)
% FILTER_IN_PLACE  Writes an image's response energies to a filter bank into given maps.
%
%   filter_in_place(image, filters, responses)
%
%   Computes what filter_responses returns (filtrum) into responses instead of fresh maps:
%   every value of every map is overwritten, so the maps may hold anything before.
%
%   Arguments:
%     image      grey image, a real 2-D array.
%     filters    cell array of equally sized square filters (as filter_bank makes).
%     responses  1 x numel(filters) cell of single maps of size(image), each with data of
%                its own (as fresh_maps makes them).
%
%   Example:
%     filters = filter_bank();
%     energies = fresh_maps([64 48], numel(filters));
%     filter_in_place(rand(64, 48), filters, energies);
%     printf('%d maps, the first with %d values above 0\n', numel(energies), nnz(energies{1}));

  half = (size(filters{1}, 1) - 1) / 2;
  [rows, cols] = size(image);
  filtrum(rows, cols, numel(filters), half, double(image), ...
          cellfun(@real, filters, 'UniformOutput', false), ...
          cellfun(@imag, filters, 'UniformOutput', false), responses);
end
