function run_suite(mexDir, varargin)
% RUN_SUITE  Run Octave test files against the MEX files in mexDir.
%   run_suite(mexDir, file1, file2, ...) runs the %!test blocks of each file with test() and
%   exits Octave with status 1 when any block fails or a file holds no tests. The toolbox
%   folder of the repository is put on the path too, for the tests of its functions.
  root = fileparts(fileparts(fileparts(mfilename('fullpath'))));
  addpath(mexDir, fullfile(root, 'toolbox'));
  failures = 0;
  for k = 1:numel(varargin)
    [passed, total] = test(varargin{k}, 'quiet', stdout);
    printf('%s: %d of %d tests passed\n', varargin{k}, passed, total);
    if total == 0 || passed < total
      failures = failures + 1;
    end
  end
  exit(failures > 0);
end
