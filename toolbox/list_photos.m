function photos = list_photos(folder, recursive)
% LIST_PHOTOS  The PNG and JPEG files of a folder, as paths relative to it, sorted.
%
%   photos = list_photos(folder)
%   photos = list_photos(folder, recursive)
%
%   Lists the files ending in .png, .jpg or .jpeg (in any case) in folder and, when
%   recursive is true, in its subfolders, with / between folder names. Hidden files and
%   folders (names starting with a dot) are left out. A folder that does not exist is
%   refused with list_photos:noFolder.
%
%   Arguments:
%     folder     the folder of photos.
%     recursive  true to search the subfolders too (default false).
%   Returns:
%     photos     1 x n cell of relative paths, sorted.
%
%   Example:
%     folder = tempname(); mkdir(folder); mkdir(fullfile(folder, 'more'));
%     imwrite(zeros(4), fullfile(folder, 'b.png'));
%     imwrite(zeros(4), fullfile(folder, 'more', 'a.JPG'));
%     fclose(fopen(fullfile(folder, 'notes.txt'), 'w'));
%     photos = list_photos(folder, true);
%     printf('%s\n', photos{:});                            % b.png, more/a.JPG
%     confirm_recursive_rmdir(false, 'local');              % (Octave: no question asked)
%     rmdir(folder, 's');

  if nargin < 2
    recursive = false;
  end
  if ~ischar(folder) || ~exist(folder, 'dir')
    error('list_photos:noFolder', 'list_photos: %s is not a folder', value_name(folder));
  end
  if ~(islogical(recursive) || isnumeric(recursive)) || ~isscalar(recursive)
    error('list_photos:badArgument', 'list_photos: argument 2 (recursive) must be true or false; got a %s', ...
          class(recursive));
  end
  names = files_below(folder, logical(recursive));
  photos = names(~cellfun(@isempty, regexpi(names, '\.(png|jpe?g)$', 'once')));
end

function text = value_name(value)
% A folder name, or the class of what was given instead.
  if ischar(value)
    text = value;
  else
    text = ['a ' class(value)];
  end
end
