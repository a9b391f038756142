function alive = process_alive(id)
% PROCESS_ALIVE  True when a process of this number runs on this machine. Where /proc tells
% (Linux), a process that has ended but whose parent has not collected it yet (a zombie,
% state Z) counts as ended; elsewhere the process is asked with signal 0, which signals
% nothing: Octave's kill, or the shell's in MATLAB.
  statFile = sprintf('/proc/%d/stat', id);
  if exist('/proc/self/stat', 'file')
    [fid, ~] = fopen(statFile, 'r');
    if fid < 0
      alive = false;
      return;
    end
    text = fgetl(fid);
    fclose(fid);
    state = regexp(text, '\)\s+(\S)', 'tokens', 'once');
    alive = isempty(state) || ~strcmp(state{1}, 'Z');
  elseif exist('OCTAVE_VERSION', 'builtin')
    alive = kill(id, 0) == 0;
  else
    alive = system(sprintf('kill -0 %d 2>/dev/null', id)) == 0;
  end
end
