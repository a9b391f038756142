function line = progress_line(counts, elapsed)
% PROGRESS_LINE  The progress of a batch in one line: photos finished (done, failed and
% skipped as already done) of the total, the rate of this run and the time left at that
% rate. counts holds total, skipped, processed (this run, failed included), failed and
% toProcess (photos this run has to search); elapsed is the seconds since the run began.
  rate = counts.processed / max(elapsed, eps);
  left = counts.toProcess - counts.processed;
  if counts.processed == 0
    leftText = 'time left unknown yet';
  else
    leftText = sprintf('about %s left', duration_text(left / rate));
  end
  line = sprintf('%d of %d photos (%d skipped as already done, %d failed), %.2f photos/s, %s', ...
                 counts.skipped + counts.processed, counts.total, counts.skipped, counts.failed, ...
                 rate, leftText);
end

function text = duration_text(seconds)
% "42 s", "3 min 5 s" or "2 h 10 min".
  secondsPerMinute = 60;
  secondsPerHour = 3600;
  seconds = round(seconds);
  if seconds < secondsPerMinute
    text = sprintf('%d s', seconds);
  elseif seconds < secondsPerHour
    text = sprintf('%d min %d s', floor(seconds / secondsPerMinute), mod(seconds, secondsPerMinute));
  else
    text = sprintf('%d h %d min', floor(seconds / secondsPerHour), ...
                   round(mod(seconds, secondsPerHour) / secondsPerMinute));
  end
end
