function name = host_name()
% HOST_NAME  The name of this machine (asked once per session, then remembered).
  persistent known
  if isempty(known)
    [status, printed] = system('hostname');
    known = strtrim(printed);
    if status ~= 0 || isempty(known)
      known = 'unknown-host';
    end
  end
  name = known;
end
