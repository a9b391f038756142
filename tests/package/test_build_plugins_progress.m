function test_build_plugins_progress(root, workDir)
% TEST_BUILD_PLUGINS_PROGRESS  Check the lines build_plugins prints as it builds.
%
%   test_build_plugins_progress(root, workDir) runs build_plugins.m of the repository at root
%   into workDir with mex replaced by a stand-in that only prints the file it would write,
%   and checks that each compilation comes right after the line "build_plugins: compiling
%   <name> (k of n)" naming that plug-in, that every plug-in (one per help file
%   plugins/*/<name>.m) is compiled once, and that the last line names workDir. Any failure
%   is an error. The compilations themselves are tested where the MEX files are built.

  if exist(workDir, 'dir')
    confirm_recursive_rmdir(false, 'local');
    rmdir(workDir, 's');
  end
  standIn = fullfile(workDir, 'standin');
  outDir = fullfile(workDir, 'mex');
  mkdir(standIn);
  fid = fopen(fullfile(standIn, 'mex.m'), 'w');
  fprintf(fid, 'function mex(varargin)\n  printf(''mex stand-in: %%s\\n'', varargin{2});\nend\n');
  fclose(fid);
  warning('off', 'Octave:shadowed-function', 'local');
  addpath(root, standIn);
  % The current folder comes before the path: leave it, in case it holds a build_plugins.m.
  here = pwd();
  cd(workDir);
  cleanup = onCleanup(@() restore(here, standIn));

  output = evalc('build_plugins(outDir)');
  lines = strsplit(strtrim(output), "\n");

  helpFiles = dir(fullfile(root, 'plugins', '*', '*.m'));
  expectedNames = sort(regexprep({helpFiles.name}, '\.m$', ''));
  count = numel(expectedNames);
  assert(numel(lines) == 2 * count + 1, 'expected %d lines, got %d:\n%s', ...
         2 * count + 1, numel(lines), output);
  names = cell(1, count);
  for k = 1:count
    progress = regexp(lines{2 * k - 1}, '^build_plugins: compiling (\w+) \((\d+) of (\d+)\)$', ...
                      'tokens', 'once');
    assert(numel(progress) == 3, 'line %d is not a progress line: %s', 2 * k - 1, lines{2 * k - 1});
    names{k} = progress{1};
    assert(str2double(progress{2}) == k && str2double(progress{3}) == count, ...
           'line %d counts wrong: %s', 2 * k - 1, lines{2 * k - 1});
    compiled = ['mex stand-in: ' fullfile(outDir, [names{k} '.' mexext()])];
    assert(strcmp(lines{2 * k}, compiled), 'after "%s" came "%s", not "%s"', ...
           lines{2 * k - 1}, lines{2 * k}, compiled);
  end
  assert(isequal(sort(names), expectedNames), 'compiled %s, expected %s', ...
         strjoin(sort(names), ' '), strjoin(expectedNames, ' '));
  assert(~isempty(strfind(lines{end}, outDir)) && strncmp(lines{end}, 'build_plugins: ', 15), ...
         'the last line does not name %s: %s', outDir, lines{end});
end

function restore(folder, standIn)
  cd(folder);
  rmpath(standIn);
end
