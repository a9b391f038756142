function replace_file(caller, temporary, final)
% REPLACE_FILE  Renames a completely written temporary file to its final name in one step
% (replacing a file of that name), so that no reader ever sees a partly written final file;
% refuses with <caller>:cannotWrite when the rename fails. Octave's rename is used in Octave
% (its movefile starts a shell), MATLAB's movefile elsewhere.
  if exist('OCTAVE_VERSION', 'builtin')
    [status, message] = rename(temporary, final);
    ok = status == 0;
  else
    [ok, message] = movefile(temporary, final, 'f');
  end
  if ~ok
    error([caller ':cannotWrite'], '%s: cannot rename %s to %s: %s', caller, temporary, final, message);
  end
end
