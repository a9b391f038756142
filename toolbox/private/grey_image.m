function grey = grey_image(image, caller, what, stacked)
% GREY_IMAGE  A grey double image (or stack of images) from a grey or colour array of any
% numeric class, or the refusal <caller>:badImage naming what was given.
%
%   grey = grey_image(image, caller, what)
%   grey = grey_image(image, caller, what, stacked)
%
%   Integer classes are scaled to [0, 1] (uint8 by 255, uint16 by 65535, signed classes from
%   their least to their largest value); logical, single and double values are kept.
%   Colour (red, green and blue along the third dimension) becomes
%   0.299 red + 0.587 green + 0.114 blue. A single image is rows x cols (grey) or
%   rows x cols x 3 (colour); with stacked true, a stack of n images is rows x cols x n
%   (grey) or rows x cols x 3 x n (colour). The values must be finite and real.

  if nargin < 4
    stacked = false;
  end
  sizes = size(image);
  if stacked
    colour = ndims(image) == 4 && sizes(3) == 3;
    shapeOk = ndims(image) <= 3 || colour;
    expected = 'a rows x cols x n grey or rows x cols x 3 x n colour stack';
  else
    colour = ndims(image) == 3 && sizes(3) == 3;
    shapeOk = ismatrix(image) || colour;
    expected = 'a rows x cols grey or rows x cols x 3 colour image';
  end
  numeric = (isnumeric(image) || islogical(image)) && isreal(image) && ~issparse(image);
  if ~numeric || ~shapeOk || isempty(image)
    error([caller ':badImage'], '%s: %s must be %s, real and numeric; got a %s %s%s', caller, ...
          what, expected, strjoin(arrayfun(@num2str, sizes, 'UniformOutput', false), 'x'), ...
          complexity(image), class(image));
  end
  grey = unit_range(image);
  if colour
    grey = 0.299 * grey(:, :, 1, :) + 0.587 * grey(:, :, 2, :) + 0.114 * grey(:, :, 3, :);
    grey = reshape(grey, sizes([1 2 4:end]));
  end
  if ~all(isfinite(grey(:)))
    error([caller ':badImage'], '%s: %s must hold finite values; it holds NaN or Inf', caller, what);
  end
end

function values = unit_range(image)
% Doubles; integer classes scaled from their range to [0, 1].
  if isinteger(image)
    low = double(intmin(class(image)));
    values = (double(image) - low) / (double(intmax(class(image))) - low);
  else
    values = double(image);
  end
end

function text = complexity(image)
% "complex " or "sparse " before a class name, where that is what is wrong.
  text = '';
  if isnumeric(image) && ~isreal(image)
    text = 'complex ';
  elseif issparse(image)
    text = 'sparse ';
  end
end
