function say(verbose, varargin)
% SAY  Prints a progress line, printf(varargin{:}), when verbose is 1 or more (the verbose
% setting of detector_settings).
  if verbose >= 1
    printf(varargin{:});
  end
end
