function take_lock(caller, lockFile)
% TAKE_LOCK  Makes lockFile hold this process's id and host, or refuses with <caller>:busy
% when it names another process that still runs. The file is made in one step that fails
% when it exists (a hard link to a file of this process's), so two batches starting at once
% cannot both take it; a lock left by a process that has ended on this machine is taken
% over. A lock of another host cannot be checked from here: it is refused, naming it.
  temporary = temporary_name(lockFile);
  write_text(caller, temporary, sprintf('%d %s %s\n', process_id(), host_name(), finished_now()), 'w');
  cleanup = onCleanup(@() delete_if_there(temporary));
  if link_file(temporary, lockFile)
    return;
  end
  [owner, host, since] = lock_owner(lockFile);
  if strcmp(host, host_name()) && ~isnan(owner) && ~process_alive(owner)
    printf('%s: taking over %s, left by process %d, which has ended\n', caller, lockFile, owner);
    delete_if_there(lockFile);
    if link_file(temporary, lockFile)
      return;
    end
    [owner, host, since] = lock_owner(lockFile);
  end
  error([caller ':busy'], ['%s: another batch is using this output folder: %s names process ' ...
        '%d on %s, running since %s; wait for it to end, or use another output folder%s'], ...
        caller, lockFile, owner, host, since, other_host_hint(host, lockFile));
end

function hint = other_host_hint(host, lockFile)
% What to do about a lock of another machine.
  hint = '';
  if ~strcmp(host, host_name())
    hint = sprintf(' (if that batch has ended, delete %s)', lockFile);
  end
end

function [owner, host, since] = lock_owner(lockFile)
% The process id, host and start time a lock file names.
  owner = NaN; host = '?'; since = '?';
  [fid, ~] = fopen(lockFile, 'r');
  if fid < 0
    return;
  end
  text = fgetl(fid);
  fclose(fid);
  words = regexp(text, '^(\d+) (\S+) (.*)$', 'tokens', 'once');
  if numel(words) == 3
    owner = str2double(words{1}); host = words{2}; since = words{3};
  end
end

function ok = link_file(existing, name)
% Gives the file existing a second name, failing when that name exists: one step on every
% file system. Octave's link is used in Octave, the shell's ln in MATLAB.
  if exist('OCTAVE_VERSION', 'builtin')
    ok = link(existing, name) == 0;
  else
    ok = system(sprintf('ln %s %s 2>/dev/null', shell_quote(existing), shell_quote(name))) == 0;
  end
end

function delete_if_there(file)
% Deletes a file if it exists.
  if exist(file, 'file')
    delete(file);
  end
end
