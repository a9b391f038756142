function append_line(caller, file, header, line)
% APPEND_LINE  Appends one line to a text file in a single write, starting the file with the
% header line when it is new (no header when header is empty); refuses with
% <caller>:cannotWrite when the file cannot be written.
  text = [line, "\n"];
  if ~isempty(header) && ~exist(file, 'file')
    text = [header, "\n", text];
  end
  write_text(caller, file, text, 'a');
end
