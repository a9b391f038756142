function quoted = shell_quote(text)
% SHELL_QUOTE  Text as one word of a POSIX shell command: in single quotes, each single quote
% written as '\''.
  quoted = ['''', strrep(text, '''', '''\'''''), ''''];
end
