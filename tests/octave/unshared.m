function copies = unshared(maps)
% UNSHARED  Copies of a cell array's arrays with data of their own.
%   A plain assignment shares the data that the plug-ins change in place, so a snapshot taken
%   before a call must be made this way.
  copies = cellfun(@(m) m * 1, maps, 'UniformOutput', false);
end
