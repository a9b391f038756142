function release_lock(lockFile)
% RELEASE_LOCK  Deletes lockFile when it names this process (take_lock wrote it).
  [fid, ~] = fopen(lockFile, 'r');
  if fid < 0
    return;
  end
  text = fgetl(fid);
  fclose(fid);
  if ischar(text) && strncmp(text, sprintf('%d %s ', process_id(), host_name()), ...
                             numel(sprintf('%d %s ', process_id(), host_name())))
    delete(lockFile);
  end
end
