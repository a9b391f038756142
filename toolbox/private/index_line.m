function line = index_line(record)
% INDEX_LINE  A record of the index (index_columns) as one CSV line.
  line = sprintf('%s,%s,%s,%s,%s,%s,%s,%s,%s', csv_quote(record.photo), number_text(record.rows), ...
                 number_text(record.cols), number_text(record.faces), ...
                 number_text(record.bestScore, '%.4f'), number_text(record.seconds, '%.3f'), ...
                 record.status, csv_quote(record.message), csv_quote(record.finished));
end

function text = number_text(value, format)
% A number, or nothing when it is unknown (NaN).
  if nargin < 2
    format = '%d';
  end
  if isnan(value)
    text = '';
  else
    text = sprintf(format, value);
  end
end
