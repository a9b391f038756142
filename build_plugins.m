function build_plugins(outDir)
% BUILD_PLUGINS  Compile every plug-in with mex, in GNU Octave or in MATLAB.
%
%   build_plugins()        builds into build/mex beside this file
%   build_plugins(outDir)  builds into outDir
%
%   Each MEX file is compiled from its plug-in source and the shared sources, with
%   floating-point contraction off (-ffp-contract=off, GCC or Clang): the results are
%   bit-for-bit contracts, and fused multiply-adds would change their last bits. The help
%   file of each plug-in is copied beside its MEX file. Afterwards: addpath(outDir).

  root = fileparts(mfilename('fullpath'));
  if nargin < 1
    outDir = fullfile(root, 'build', 'mex');
  end
  if ~exist(outDir, 'dir')
    mkdir(outDir);
  end

  % name, folder under plugins/, shared sources besides common/frame.cpp
  plugins = {
    'fennock', 'saturate', {}
  };
  commonDir = fullfile(root, 'common');
  flags = '-std=c++17 -O2 -ffp-contract=off -Wall -Wextra';
  inOctave = exist('OCTAVE_VERSION', 'builtin') ~= 0;

  for k = 1:size(plugins, 1)
    [name, folder, shared] = plugins{k, :};
    pluginDir = fullfile(root, 'plugins', folder);
    sources = [{fullfile(pluginDir, [name '.cpp']), fullfile(commonDir, 'frame.cpp')}, ...
               cellfun(@(s) fullfile(root, s), shared, 'UniformOutput', false)];
    if inOctave
      setenv('CXXFLAGS', flags);
      mex('-o', fullfile(outDir, [name '.' mexext()]), ['-I' commonDir], ['-I' pluginDir], sources{:});
    else
      mex('-outdir', outDir, '-output', name, ['-I' commonDir], ['-I' pluginDir], ...
          ['CXXFLAGS=$CXXFLAGS ' flags], sources{:});
    end
    copyfile(fullfile(pluginDir, [name '.m']), fullfile(outDir, [name '.m']));
  end
end
