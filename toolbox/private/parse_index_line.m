function record = parse_index_line(line)
% PARSE_INDEX_LINE  A record of the index from one of its CSV lines (index_columns); empty
% when the line is malformed (a header, or a line cut short).
  fieldCount = 9;
  record = [];
  fields = split_csv_line(line);
  if numel(fields) ~= fieldCount || ~any(strcmp(fields{7}, {'done', 'failed'})) || ...
     isempty(regexp(fields{9}, '^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}$', 'once'))
    return;
  end
  numbers = str2double(fields(2:6));
  record = struct('photo', fields{1}, 'rows', numbers(1), 'cols', numbers(2), ...
                  'faces', numbers(3), 'bestScore', numbers(4), 'seconds', numbers(5), ...
                  'status', fields{7}, 'message', fields{8}, 'finished', fields{9});
end
