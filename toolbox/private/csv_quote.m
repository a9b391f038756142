function text = csv_quote(text)
% CSV_QUOTE  A text field for a CSV line: in double quotes, inner double quotes doubled, line
% breaks made spaces.
  text = regexprep(text, '[\r\n]+', ' ');
  text = ['"', strrep(text, '"', '""'), '"'];
end
