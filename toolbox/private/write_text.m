function write_text(caller, file, text, mode)
% WRITE_TEXT  Writes text to a file in one write: mode 'w' makes or replaces the file, 'a'
% appends to it, 'replace' writes a temporary file beside it and renames it into place (so
% that no reader sees half of it). Refuses with <caller>:cannotWrite, naming the file, when
% it cannot be written.
  target = file;
  if strcmp(mode, 'replace')
    target = temporary_name(file);
  end
  [fid, reason] = fopen(target, strrep(mode, 'replace', 'w'));
  if fid < 0
    error([caller ':cannotWrite'], '%s: cannot write %s: %s', caller, file, reason);
  end
  fprintf(fid, '%s', text);
  fclose(fid);
  if strcmp(mode, 'replace')
    replace_file(caller, target, file);
  end
end
