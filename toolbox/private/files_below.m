function names = files_below(folder, recursive)
% FILES_BELOW  The files in a folder (and, when recursive, in its subfolders), as paths
% relative to it with / between folders, sorted. Hidden files and folders (names starting
% with a dot) are left out.
  names = files_in(folder, '', recursive);
  names = sort(names);
end

function names = files_in(folder, prefix, recursive)
% The files below folder/prefix, their paths starting with prefix.
  listing = dir(fullfile(folder, prefix));
  listing = listing(~strncmp({listing.name}, '.', 1));
  names = {};
  for k = 1:numel(listing)
    path = [prefix, listing(k).name];
    if ~listing(k).isdir
      names{end + 1} = path;
    elseif recursive
      names = [names, files_in(folder, [path '/'], recursive)];
    end
  end
end
