function path = absolute_path(name)
% ABSOLUTE_PATH  A file or folder name made absolute against the current folder, without
% trailing separators, so that workers started elsewhere find it.
  if isempty(regexp(name, '^(/|[A-Za-z]:[\\/]|\\\\)', 'once'))
    name = fullfile(pwd(), name);
  end
  path = regexprep(name, '(?<=.)[\\/]+$', '');
  path = regexprep(path, '[\\/]\.(?=[\\/]|$)', '');
end
