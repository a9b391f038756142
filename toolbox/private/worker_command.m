function command = worker_command(code)
% WORKER_COMMAND  A shell command that starts a new Octave (octave-cli of this Octave's
% installation) or MATLAB (matlab -batch) process running code and ending. Octave's are
% told not to save their workspace when they are stopped by a signal.
  if exist('OCTAVE_VERSION', 'builtin')
    program = fullfile(OCTAVE_HOME(), 'bin', 'octave-cli');
    code = ['sigterm_dumps_octave_core(false); sighup_dumps_octave_core(false); ' code];
    command = sprintf('%s --no-history --norc --quiet --eval %s', shell_quote(program), ...
                      shell_quote(code));
  else
    command = sprintf('%s -batch %s', shell_quote(fullfile(matlabroot(), 'bin', 'matlab')), ...
                      shell_quote(code));
  end
end
