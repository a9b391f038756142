function image = read_image(file)
% READ_IMAGE  Read a PNG or JPEG file as a grey image with values in [0, 1].
%
%   image = read_image(file)
%
%   Reads grey, colour, indexed (palette) and grey-with-alpha images of 8 or 16 bits
%   without printing the image reader's warnings (such as those about colour profiles).
%   Colour becomes 0.299 red + 0.587 green + 0.114 blue, the conversion detect_faces and
%   learn_template apply to colour arrays; transparency is ignored (the colour stored under
%   it is used). A file that is missing, unreadable or not an image is refused with
%   read_image:cannotRead or read_image:notImage, in one line naming the file; so is a
%   damaged image whose pixels the reader would make up (a JPEG cut short or with corrupt
%   data, which the reader fills with grey and only warns about).
%
%   Arguments:
%     file   name of the image file.
%   Returns:
%     image  rows x cols double array in [0, 1].
%
%   Example:
%     file = [tempname() '.png'];
%     imwrite(uint8(cat(3, 255 * ones(4, 6), zeros(4, 6), zeros(4, 6))), file);
%     grey = read_image(file);
%     printf('%d x %d, value %.3f\n', size(grey), grey(1));   % 4 x 6, value 0.299 (pure red)
%     delete(file);

  if ~ischar(file) || ~(isrow(file) || isempty(file))
    error('read_image:badArgument', 'read_image: the file name must be text; got a %s', class(file));
  end
  [fid, reason] = fopen(file, 'r');
  if fid < 0
    error('read_image:cannotRead', 'read_image: cannot read %s: %s', file, reason);
  end
  fclose(fid);
  % The reader's warnings are kept off the screen but caught (evalc), so that a damaged
  % image is refused whatever the warning settings are.
  previous = warning('on', 'all');
  restore = onCleanup(@() warning(previous));
  try
    printed = evalc('[pixels, map] = imread(file);');
  catch failure
    warning(previous);
    error('read_image:notImage', 'read_image: %s is not a readable PNG or JPEG image (%s)', ...
          file, reader_reason(failure.message));
  end
  warning(previous);
  damage = regexp(printed, damage_pattern(), 'match', 'once');
  if ~isempty(damage)
    error('read_image:notImage', 'read_image: %s is a damaged image (%s)', file, strtrim(damage));
  end
  if ~isempty(map)
    % The reader returns the indices of a palette of two colours as logical values.
    pixels = ind2rgb(uint8(pixels), map);
  end
  image = grey_image(pixels, 'read_image', file);
end

function pattern = damage_pattern()
% The image reader's warnings that mean pixels were made up rather than read.
  pattern = '(Premature end of [A-Z]+ file|Corrupt [A-Z]+ data[^(]*|[A-Z]+ file truncated)';
end

function reason = reader_reason(message)
% The image reader's reason in a few words: its first line, without the library's prefix and
% the source position it reports.
  lines = strsplit(message, "\n");
  reason = regexprep(lines{1}, '^.*Magick: ', '');
  reason = strtrim(regexprep(reason, '\s*(\(\S*\))?\s*reported by .*$', ''));
end
