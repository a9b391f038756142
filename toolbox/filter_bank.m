function [filters, stamps] = filter_bank(varargin)
% FILTER_BANK  Complex Gabor filters at evenly spaced orientations, with their drawing stamps.
%
%   [filters, stamps] = filter_bank()
%   [filters, stamps] = filter_bank(settings)
%   [filters, stamps] = filter_bank('name', value, ...)
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
%   Arguments (all optional): a settings struct or name/value pairs (detector_settings),
%   of which orientCount, filterHalf and wavelength are used, or those three as numbers.
%   The defaults are detector_settings' (8 orientations, half width 4, wavelength 5), the
%   bank that background_tables, learn_template and detect_faces expect by default.
%   Returns:
%     filters      1 x orientCount cell of complex (2h+1) x (2h+1) double filters.
%     stamps       1 x orientCount cell of real (2h+1) x (2h+1) double stamps.
%
%   Example:
%     [filters, stamps] = filter_bank('orientCount', 4);
%     printf('%d filters of %d x %d\n', numel(filters), size(filters{1}));   % 4 filters of 9 x 9

  if ~isempty(varargin) && isnumeric(varargin{1})
    names = {'orientCount', 'filterHalf', 'wavelength'};
    if numel(varargin) > numel(names)
      error('filter_bank:badArgument', 'filter_bank: takes at most 3 numbers; got %d arguments', ...
            numel(varargin));
    end
    varargin = reshape([names(1:numel(varargin)); varargin], 1, []);
  end
  settings = resolve_settings('filter_bank', varargin);
  orientCount = settings.orientCount;
  filterHalf = settings.filterHalf;
  wavelength = settings.wavelength;
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
