function responses = filter_responses(image, filters)
% FILTER_RESPONSES  Energies of an image's responses to a filter bank.
%
%   responses = filter_responses(image, filters)
%
%   Convolves the image with every filter (the image padded by replicating its edges, so
%   the border does not ring) and returns the energy |response|^2 of each orientation as a
%   fresh single-precision map of the image's size, ready for the plug-ins. The plug-in
%   filtrum computes them in single precision, the maps shared among threads; they agree
%   with the same energies computed by FFT to within 1e-5 of each map's largest energy.
%
%   Arguments:
%     image      grey image, a real 2-D array.
%     filters    cell array of equally sized square filters (as filter_bank makes).
%   Returns:
%     responses  1 x numel(filters) cell of single arrays of size(image).
%
%   Example:
%     filters = filter_bank();
%     energies = filter_responses(rand(64, 48), filters);
%     size(energies{1})                       % 64 x 48

  responses = fresh_maps(size(image), numel(filters));
  filter_in_place(image, filters, responses);
end
