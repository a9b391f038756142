function build_plugins(outDir)
% BUILD_PLUGINS  Compile every plug-in with mex, in GNU Octave or in MATLAB.
%
%   build_plugins()        builds into build/mex beside this file
%   build_plugins(outDir)  builds into outDir
%
%   Each MEX file is compiled from its plug-in source and the shared sources, with
%   floating-point contraction off (-ffp-contract=off, GCC or Clang): the results are
%   bit-for-bit contracts, and fused multiply-adds would change their last bits. It is
%   compiled and linked with OpenMP (-fopenmp), whose threads follow OMP_NUM_THREADS. The help
%   file of each plug-in is copied beside its MEX file. Afterwards: addpath(outDir).
%   Prints a line naming each plug-in as it compiles it, and one naming the folder at the end.

  root = fileparts(mfilename('fullpath'));
  if nargin < 1
    outDir = fullfile(root, 'build', 'mex');
  end
  if ~exist(outDir, 'dir')
    mkdir(outDir);
  end

  % name, folder under plugins/, source file, further shared sources (besides every
  % source of common/; their folders are searched for headers), preprocessor definitions,
  % further flags (given when compiling and when linking)
  windowMeans = {'plugins/normalize/windowmeans.cpp'};
  plugins = {
    'fennock', 'saturate', 'fennock.cpp', {}, {}, {}
    'vindral', 'pool', 'vindral.cpp', {}, {}, {}
    'somvert', 'normalize', 'somvert.cpp', windowMeans, {}, {}
    'somvertwide', 'normalize', 'somvert.cpp', windowMeans, {'SOMVERT_DOUBLE_PRECISION'}, {}
    'brelind', 'windowmean', 'brelind.cpp', windowMeans, {}, {}
    'cobrint', 'density', 'cobrint.cpp', {}, {}, {}
    'quillon', 'learn', 'quillon.cpp', {}, {}, {}
    'gastrel', 'score', 'gastrel.cpp', {}, {}, {}
    'gastrelblock', 'score', 'gastrel.cpp', {}, {'GASTREL_BLOCK'}, {}
    'lurvane', 'best', 'lurvane.cpp', {}, {}, {}
    'lurvaneveto', 'best', 'lurvane.cpp', {}, {'LURVANE_VETO'}, {}
    'tarrow', 'recover', 'tarrow.cpp', {}, {}, {}
    'tarrowveto', 'recover_inhibit', 'tarrowveto.cpp', {}, {}, {}
    'tarrowvetoblock', 'recover_inhibit', 'tarrowveto.cpp', {}, {'TARROWVETO_BLOCK'}, {}
    'filtrum', 'filter', 'filtrum.cpp', {}, {}, {'-fopenmp'}
    'cellum', 'filter', 'cellum.cpp', {}, {}, {'-fopenmp'}
    'scalum', 'resample', 'scalum.cpp', {}, {}, {'-fopenmp'}
    'crossum', 'product', 'crossum.cpp', {}, {}, {'-fopenmp'}
  };
  commonDir = fullfile(root, 'common');
  commonSources = dir(fullfile(commonDir, '*.cpp'));
  commonSources = cellfun(@(f) fullfile(commonDir, f), {commonSources.name}, 'UniformOutput', false);
  % mkoctfile links with these flags too, so -fopenmp also brings in the OpenMP library.
  flags = '-std=c++17 -O2 -ffp-contract=off -Wall -Wextra -fopenmp';
  linkFlags = '-fopenmp';
  inOctave = exist('OCTAVE_VERSION', 'builtin') ~= 0;

  count = size(plugins, 1);
  for k = 1:count
    [name, folder, source, shared, definitions, extraFlags] = plugins{k, :};
    printf_now('build_plugins: compiling %s (%d of %d)\n', name, k, count);
    pluginDir = fullfile(root, 'plugins', folder);
    sharedSources = cellfun(@(s) fullfile(root, s), shared, 'UniformOutput', false);
    sources = [{fullfile(pluginDir, source)}, commonSources, sharedSources];
    includes = cellfun(@(d) ['-I' d], unique([{commonDir, pluginDir}, ...
                       cellfun(@fileparts, sharedSources, 'UniformOutput', false)]), ...
                       'UniformOutput', false);
    defines = cellfun(@(d) ['-D' d], definitions, 'UniformOutput', false);
    pluginFlags = strjoin([{flags}, extraFlags], ' ');
    if inOctave
      % mkoctfile passes CXXFLAGS to the link step too.
      setenv('CXXFLAGS', pluginFlags);
      mex('-o', fullfile(outDir, [name '.' mexext()]), includes{:}, defines{:}, sources{:});
    else
      mex('-outdir', outDir, '-output', name, includes{:}, ['CXXFLAGS=$CXXFLAGS ' pluginFlags], ...
          ['LDFLAGS=$LDFLAGS ' strjoin([{linkFlags}, extraFlags], ' ')], defines{:}, sources{:});
    end
    copyfile(fullfile(pluginDir, [name '.m']), fullfile(outDir, [name '.m']));
  end
  printf_now('build_plugins: %d plug-ins built in %s; addpath(''%s'') to use them\n', ...
             count, outDir, outDir);
end

function printf_now(varargin)
% Prints at once, even where Octave holds back its output (a pipe, a log).
  fprintf(varargin{:});
  if exist('OCTAVE_VERSION', 'builtin') ~= 0
    fflush(stdout);
  end
end
