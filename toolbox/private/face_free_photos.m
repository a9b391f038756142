function files = face_free_photos(dataDir)
% FACE_FREE_PHOTOS  The photos without faces that fetch-data.sh puts in the data cache.
%
%   files = face_free_photos(dataDir)
%
%   Returns a cell array of their paths in dataDir; a missing one is refused with
%   face_template:noData, naming the command that fetches it.

  names = {'brick.png', 'grass.png', 'gravel.png', 'coffee.png', 'chelsea.png', ...
           'motorcycle_left.png', 'rocket.jpg', 'text.png', 'page.png', 'image_0000.pgm', ...
           'image0000.pgm'};
  files = fullfile(dataDir, names);
  for k = 1:numel(files)
    if ~exist(files{k}, 'file')
      error('face_template:noData', ['face_template: %s is missing: fetch it with ' ...
            'fetch-data.sh %s (in scripts/ of the source tree)'], files{k}, dataDir);
    end
  end
end
