function name = temporary_name(final)
% TEMPORARY_NAME  A name beside the file final, unique to this process, under which the
% file is written before replace_file renames it: final.part-<host>-<process id>.
  name = sprintf('%s.part-%s-%d', final, host_name(), process_id());
end
