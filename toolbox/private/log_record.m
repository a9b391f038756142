function log_record(caller, logFile, record)
% LOG_RECORD  Appends a photo's outcome to the batch's log: the time, the status, the photo,
% and the faces, best score and seconds, or the reason of the failure.
  if strcmp(record.status, 'done')
    detail = sprintf('%d faces, best score %.4f, %.2f s', record.faces, record.bestScore, ...
                     record.seconds);
  else
    detail = record.message;
  end
  append_line(caller, logFile, '', sprintf('%s %-6s %s: %s', record.finished, record.status, ...
                                           record.photo, detail));
end
