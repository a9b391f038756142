function [filters, stamps] = filter_bank(orientCount, filterHalf, wavelength)
% FILTER_BANK  Complex Gabor filters at evenly spaced orientations, with their drawing stamps.
%
%   [filters, stamps] = filter_bank()
%   [filters, stamps] = filter_bank(orientCount, filterHalf, wavelength)
%
%   Filter o (counted from 0) oscillates along the direction t = pi*o/orientCount, which moves
%   cos(t) rows and sin(t) columns per pixel: the direction in which the pooling plug-ins
%   shift an element of orientation o. It therefore responds to edges and bars that run
%   across that direction. Each filter is a Gaussian envelope (standard deviation
%   wavelength/2 across the edge, 0.8 times wavelength along it) times a complex wave; the
%   even part has its mean removed so that flat regions give no response, and each filter
%   has unit energy. Stamps picture each element for drawing: a thin bright line along the
%   edge, fading at its ends, peak value 1.
%
%   Arguments (all optional):
%     orientCount  number of orientations (default 8).
%     filterHalf   half width h: filters and stamps are (2h+1) x (2h+1) (default 5).
%     wavelength   period of the wave in pixels (default 5).
%   Returns:
%     filters      1 x orientCount cell of complex (2h+1) x (2h+1) double filters.
%     stamps       1 x orientCount cell of real (2h+1) x (2h+1) double stamps.
%
%   Example:
%     [filters, stamps] = filter_bank(8, 5, 5);
%     energies = filter_responses(rand(64), filters);

  if nargin < 1, orientCount = 8; end
  if nargin < 2, filterHalf = 5; end
  if nargin < 3, wavelength = 5; end
  sigmaAcross = wavelength / 2;          % two lobes of the wave inside the envelope
  sigmaAlong = 0.8 * wavelength;         % elongated along the edge
  lineWidth = 0.7;                       % stamp line half width, pixels
  [cols, rows] = meshgrid(-filterHalf:filterHalf);
  filters = cell(1, orientCount);
  stamps = cell(1, orientCount);
  for o = 0:orientCount - 1
    t = pi * o / orientCount;
    across = rows * cos(t) + cols * sin(t);
    along = -rows * sin(t) + cols * cos(t);
    envelope = exp(-across.^2 / (2 * sigmaAcross^2) - along.^2 / (2 * sigmaAlong^2));
    even = envelope .* cos(2 * pi * across / wavelength);
    even = even - envelope * (sum(even(:)) / sum(envelope(:)));
    odd = envelope .* sin(2 * pi * across / wavelength);
    filter = even + 1i * odd;
    filters{o + 1} = filter / sqrt(sum(abs(filter(:)).^2));
    stamps{o + 1} = exp(-across.^2 / (2 * lineWidth^2) - along.^2 / (2 * (filterHalf / 1.5)^2));
  end
end
