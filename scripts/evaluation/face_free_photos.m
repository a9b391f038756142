function files = face_free_photos(dataDir)
% FACE_FREE_PHOTOS  The photos without faces that fetch-data.sh --face-free puts in the cache.
%
%   files = face_free_photos(dataDir)
%
%   Returns a cell array of their paths in dataDir; a missing one is refused with
%   face_free_photos:missing, naming the command that fetches it.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh --face-free data):
%     files = face_free_photos('data');
%     printf('%d face-free photos\n', numel(files));

  names = {'brick.png', 'grass.png', 'gravel.png', 'coffee.png', 'chelsea.png', ...
           'motorcycle_left.png', 'rocket.jpg', 'text.png', 'page.png', 'image_0000.pgm', ...
           'image0000.pgm'};
  files = fullfile(dataDir, names);
  for k = 1:numel(files)
    if ~exist(files{k}, 'file')
      error('face_free_photos:missing', ['face_free_photos: %s is missing: fetch it with ' ...
            'scripts/fetch-data.sh --face-free %s'], files{k}, dataDir);
    end
  end
end
