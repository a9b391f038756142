function seconds = modified_time(file)
% MODIFIED_TIME  When a file was last modified, in seconds on the clock of the file system;
% NaN when the file does not exist. Octave's stat is used in Octave (dir is far slower
% there), dir's datenum in MATLAB.
  secondsPerDay = 86400;
  if exist('OCTAVE_VERSION', 'builtin')
    [info, status] = stat(file);
    if status ~= 0
      seconds = NaN;
    else
      seconds = info.mtime;
    end
  else
    listing = dir(file);
    if numel(listing) ~= 1 || listing.isdir
      seconds = NaN;
    else
      seconds = listing.datenum * secondsPerDay;
    end
  end
end
