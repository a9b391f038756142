function fields = split_csv_line(line)
% SPLIT_CSV_LINE  The fields of one CSV line, as text: fields in double quotes may hold
% commas and doubled double quotes, which become one.
  tokens = regexp(line, '(?:^|,)("(?:[^"]|"")*"|[^,]*)', 'tokens');
  fields = cellfun(@(t) t{1}, tokens, 'UniformOutput', false);
  quoted = ~cellfun(@isempty, regexp(fields, '^".*"$', 'once'));
  fields(quoted) = cellfun(@(f) strrep(f(2:end - 1), '""', '"'), fields(quoted), ...
                           'UniformOutput', false);
end
