function text = finished_now()
% FINISHED_NOW  The time now as the index writes it, to the millisecond: texts of this form
% sort in time order.
  text = datestr(now(), 'yyyy-mm-dd HH:MM:SS.FFF');
end
