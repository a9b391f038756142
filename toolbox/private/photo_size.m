function [rows, cols] = photo_size(file)
% PHOTO_SIZE  The height and width of an image file, read from its header without decoding
% its pixels (imfinfo, its warnings kept off the screen), so that a search too costly for
% the image can be refused before the image is read. A file whose header cannot be read is
% handed to read_image, whose refusal says why.
  try
    evalc('info = imfinfo(file);');
  catch
    image = read_image(file);
    [rows, cols] = size(image);
    return;
  end
  rows = info(1).Height;
  cols = info(1).Width;
end
