function id = process_id()
% PROCESS_ID  The operating system's number of this Octave or MATLAB process.
%   Octave has getpid; MATLAB has no documented equivalent and answers feature('getpid').
  if exist('OCTAVE_VERSION', 'builtin')
    id = getpid();
  else
    id = feature('getpid');
  end
end
