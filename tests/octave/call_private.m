function varargout = call_private(name, varargin)
% CALL_PRIVATE  Calls a helper of the toolbox's private folder, which only the toolbox's own
% functions see, from a test: runs it with that folder as the current folder.
  folder = fullfile(fileparts(which('filter_bank')), 'private');
  previous = cd(folder);
  restore = onCleanup(@() cd(previous));
  [varargout{1:nargout}] = feval(name, varargin{:});
end
