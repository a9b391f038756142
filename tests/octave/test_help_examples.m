% The example in the help of every public function runs as it stands and prints something a
% reader can check: the plug-ins' help files beside the MEX files, and the toolbox's functions
% and overview (not its private helpers, nor scripts). Each example runs in a fresh temporary
% folder, so that nothing it writes lands in the repository. An example that reads the data
% cache (data/...) runs from the repository root instead, once the cache is filled, and must
% leave no file there; when the data cannot be fetched, such examples are skipped and SKIPPED
% is printed.

%!shared root, dataReady
%! root = fileparts(fileparts(fileparts(which('run_suite'))));
%! fetcher = fullfile(root, 'scripts', 'fetch-data.sh');
%! [status, output] = system(sprintf('"%s" "%s" 2>&1', fetcher, fullfile(root, 'data')));
%! dataReady = status == 0;
%! if ! dataReady
%!   printf('SKIPPED: examples that read data/ are skipped, the data could not be fetched:\n%s\n', output);
%! end

%!function code = example_of(helpText)
%!  % The lines after "Example:" indented deeper than it, up to a blank line, "See also" or the
%!  % end of the help, joined by newlines; '' when the help has no such lines.
%!  lines = strsplit(helpText, "\n", "CollapseDelimiters", false);
%!  start = find(! cellfun(@isempty, regexp(lines, '^\s*Example:\s*$', 'once')), 1);
%!  code = '';
%!  if isempty(start)
%!    return;
%!  end
%!  headingIndent = numel(regexp(lines{start}, '^\s*', 'match', 'once'));
%!  body = {};
%!  for k = start + 1:numel(lines)
%!    line = lines{k};
%!    indented = numel(regexp(line, '^\s*', 'match', 'once')) > headingIndent;
%!    if isempty(strtrim(line)) || ! indented || ! isempty(regexp(line, '^\s*See also', 'once'))
%!      break;
%!    end
%!    body{end + 1} = line;
%!  end
%!  code = strjoin(body, "\n");
%!endfunction

%!function defines = defines_function(text)
%!  % True when some line of the file's text, outside comments, starts a function.
%!  defines = ! isempty(regexp(text, '^\s*function\>', 'lineanchors', 'once'));
%!endfunction

%!function script = is_script(text)
%!  % True for a file with code but no function: neither a function nor an overview.
%!  script = ! defines_function(text) && ! isempty(regexp(text, '^\s*[^%#\s]', 'lineanchors', 'once'));
%!endfunction

%!function output = evaluated(exampleCode__)
%!  % The example's printed output, the example running in a workspace of its own.
%!  output = evalc(exampleCode__);
%!endfunction

%!function [output, failure] = run_in(folder, code)
%!  % Runs code with folder as the current folder, and comes back whatever happens.
%!  here = pwd();
%!  cd(folder);
%!  unwind_protect
%!    try
%!      output = evaluated(code);
%!      failure = '';
%!    catch err
%!      output = '';
%!      failure = err.message;
%!    end_try_catch
%!  unwind_protect_cleanup
%!    cd(here);
%!  end_unwind_protect
%!endfunction

%!function names = entries_of(root)
%!  % The names in the repository root and in its data cache, where examples might write.
%!  top = dir(root);
%!  cached = dir(fullfile(root, 'data'));
%!  names = [{top.name}, strcat('data/', {cached.name})];
%!endfunction

%!function problem = example_problem(file, root, dataReady, required)
%!  % '' when the example in the help of file runs and prints something, or when file needs
%!  % none (not required, and a script or an overview without an example); otherwise what
%!  % went wrong, naming the file.
%!  problem = '';
%!  text = fileread(file);
%!  if ! required && is_script(text)
%!    return;
%!  end
%!  code = example_of(get_help_text(file));
%!  if isempty(code)
%!    if required || defines_function(text)
%!      problem = sprintf('%s: the help has no Example section', file);
%!    end
%!    return;
%!  end
%!  if isempty(strfind(code, 'data/'))
%!    folder = tempname();
%!    mkdir(folder);
%!    [output, failure] = run_in(folder, code);
%!    confirm_recursive_rmdir(false, 'local');
%!    rmdir(folder, 's');
%!    leftovers = {};
%!  elseif dataReady
%!    before = entries_of(root);
%!    [output, failure] = run_in(root, code);
%!    leftovers = setdiff(entries_of(root), before);
%!  else
%!    printf('SKIPPED: %s: the example reads data/, which could not be fetched\n', file);
%!    return;
%!  end
%!  if ! isempty(failure)
%!    problem = sprintf('%s: the example failed: %s', file, failure);
%!  elseif isempty(strtrim(output))
%!    problem = sprintf('%s: the example printed nothing', file);
%!  elseif ! isempty(leftovers)
%!    problem = sprintf('%s: the example left %s in the repository', file, strjoin(leftovers, ', '));
%!  end
%!endfunction

%!function require_examples(files, root, dataReady, required)
%!  % Fails with one line per file whose example is missing, fails or prints nothing.
%!  problems = {};
%!  for k = 1:numel(files)
%!    problem = example_problem(files{k}, root, dataReady, required);
%!    if ! isempty(problem)
%!      problems{end + 1} = problem;
%!    end
%!  end
%!  if ! isempty(problems)
%!    error('%d of %d help examples fail:\n%s', numel(problems), numel(files), strjoin(problems, "\n"));
%!  end
%!endfunction

%!function files = m_files(folder)
%!  listing = dir(fullfile(folder, '*.m'));
%!  files = cellfun(@(name) fullfile(folder, name), sort({listing.name}), 'UniformOutput', false);
%!endfunction

%!test
%! % Every plug-in beside the MEX files has its help file, whose example runs and prints.
%! mexDir = fileparts(which('fennock'));
%! plugins = dir(fullfile(mexDir, ['*.' mexext()]));
%! assert(numel(plugins) > 0);
%! for k = 1:numel(plugins)
%!   [~, name] = fileparts(plugins(k).name);
%!   assert(exist(fullfile(mexDir, [name '.m']), 'file') == 2, sprintf('%s has no help file', name));
%! end
%! require_examples(m_files(mexDir), root, dataReady, true);

%!test
%! % Every toolbox function's example runs and prints; private helpers are not public.
%! toolboxDir = fileparts(which('filter_bank'));
%! files = m_files(toolboxDir);
%! assert(numel(files) > 0);
%! require_examples(files, root, dataReady, false);

%!test
%! % An example is the indented block after "Example:", continuation lines included, ending at
%! % a blank line, "See also", a line indented no deeper than the heading, or the end.
%! text = sprintf('  F  Does f.\n\n  Example:\n    x = f(1, ...\n          2);\n    disp(x)\n\n  See also G.\n');
%! assert(example_of(text), sprintf('    x = f(1, ...\n          2);\n    disp(x)'));
%! assert(example_of(sprintf('  Example:\n    y = 2\n  See also G.\n')), '    y = 2');
%! assert(example_of(sprintf('  Example:\n    y = 2\n    See also G.\n')), '    y = 2');
%! assert(example_of(sprintf('  Example:\n    y = 2\n  Returns:\n    z\n')), '    y = 2');
%! assert(example_of(sprintf('  Example:\n    y = 2')), '    y = 2');
%! assert(example_of(sprintf('  F  Does f.\n\n  Arguments:\n    x  a number\n')), '');
%! assert(example_of(sprintf('  Example:\n\n    y = 2\n')), '');
%! assert(defines_function(sprintf('function y = f(x)\n%% F  Does f.\n  y = x;\nend\n')));
%! assert(defines_function(sprintf('%% F  Does f.\n\nfunction y = f(x)\n  y = x;\nend\n')));
%! assert(! defines_function(sprintf('%% An overview: no function y = f(x) here.\n')));
%! assert(is_script(sprintf('%% S  A script.\n%%   Example:\n%%     s\n\nx = 1;\n')));
%! assert(! is_script(sprintf('%% An overview.\n\n%% More of it.\n')));
%! assert(! is_script(sprintf('function f()\n%% F\nend\n')));

%!test
%! % A missing example fails unless the file is an overview; a script's example is not run;
%! % an example that errors or prints nothing fails naming its file; one that prints passes. Examples run in the folder given
%! % and the current folder comes back, even when an example fails after moving.
%! folder = tempname();
%! mkdir(folder);
%! cases = {'overview.m', sprintf('%% OVERVIEW  The functions of a folder.\n'), false, '';
%!          'bare.m', sprintf('function bare()\n%% BARE  Nothing.\nend\n'), false, 'has no Example';
%!          'plugin.m', sprintf('%% PLUGIN  A MEX help file.\n'), true, 'has no Example';
%!          'script.m', sprintf('%% SCRIPT\n%%   Example:\n%%     error(''run'')\n\nx = 1;\n'), false, '';
%!          'breaks.m', sprintf('function breaks()\n%% BREAKS\n%%   Example:\n%%     error(''no such luck'')\nend\n'), ...
%!          false, 'failed: no such luck';
%!          'quiet.m', sprintf('function quiet()\n%% QUIET\n%%   Example:\n%%     x = 1;\nend\n'), false, ...
%!          'printed nothing';
%!          'loud.m', sprintf('function loud()\n%% LOUD\n%%   Example:\n%%     disp(pwd())\nend\n'), false, ''};
%! unwind_protect
%!   for k = 1:rows(cases)
%!     file = fullfile(folder, cases{k, 1});
%!     fid = fopen(file, 'w');
%!     fputs(fid, cases{k, 2});
%!     fclose(fid);
%!     problem = example_problem(file, root, false, cases{k, 3});
%!     if isempty(cases{k, 4})
%!       assert(problem, '');
%!     else
%!       assert(strncmp(problem, [file ': '], numel(file) + 2), problem);
%!       assert(! isempty(strfind(problem, cases{k, 4})), problem);
%!     end
%!   end
%!   here = pwd();
%!   [output, failure] = run_in(folder, 'disp(pwd())');
%!   assert([strtrim(output), failure], canonicalize_file_name(folder));
%!   [output, failure] = run_in(folder, 'cd(tempdir()); error(''lost'')');
%!   assert({output, failure}, {'', 'lost'});
%!   assert(pwd(), here);
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir(false, 'local');
%!   rmdir(folder, 's');
%! end_unwind_protect
