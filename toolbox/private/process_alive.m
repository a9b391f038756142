function alive = process_alive(id)
% PROCESS_ALIVE  True when a process of this number runs on this machine. Octave's kill with
% signal 0 asks without signalling; MATLAB asks the shell's kill.
  if exist('OCTAVE_VERSION', 'builtin')
    alive = kill(id, 0) == 0;
  else
    alive = system(sprintf('kill -0 %d 2>/dev/null', id)) == 0;
  end
end
