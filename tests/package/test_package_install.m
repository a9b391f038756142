function test_package_install(root, workDir)
% TEST_PACKAGE_INSTALL  Build the package archive, install it and use what it installed.
%
%   test_package_install(root, workDir) runs scripts/package.sh of the repository at root
%   with workDir as its build folder, installs the archive with pkg into a prefix and a
%   package list inside workDir (never the user's own), loads it, and checks that every
%   plug-in (one per help file plugins/*/<name>.m) is a MEX file with its help, that every
%   toolbox function (toolbox/*.m) is there with its help, that fennock saturates a small
%   grid exactly as its help states, that the toolbox's private helpers and the demo's data
%   fetcher came along, and that filter_bank() returns a cell array of filters.
%   Any failure is an error.

  if exist(workDir, 'dir')
    confirm_recursive_rmdir(false, 'local');
    rmdir(workDir, 's');
  end
  mkdir(workDir);

  % What the package must provide, listed from the tree that is about to be packaged.
  helpFiles = dir(fullfile(root, 'plugins', '*', '*.m'));
  pluginNames = regexprep({helpFiles.name}, '\.m$', '');
  toolboxFiles = dir(fullfile(root, 'toolbox', '*.m'));
  toolboxNames = regexprep({toolboxFiles.name}, '\.m$', '');
  hasFilterBank = any(strcmp(toolboxNames, 'filter_bank'));

  [status, output] = system(sprintf('BUILD_DIR=''%s'' ''%s''', workDir, ...
                                    fullfile(root, 'scripts', 'package.sh')));
  assert(status == 0, 'scripts/package.sh failed:\n%s', output);
  archives = dir(fullfile(workDir, '*.tar.gz'));
  assert(numel(archives) == 1, 'expected one archive in %s, found %d', workDir, numel(archives));

  % Both the package folder and its architecture folder go under prefix, and the list of
  % installed packages is a file of its own; -local keeps pkg from using the global list
  % when run as root.
  prefix = fullfile(workDir, 'prefix');
  mkdir(prefix);
  pkg('prefix', prefix, prefix);
  pkg('local_list', fullfile(workDir, 'octave_packages'));
  pkg('install', '-local', fullfile(workDir, archives(1).name));
  installed = pkg('list');
  installed = installed(cellfun(@(p) strncmp(p.dir, prefix, numel(prefix)), installed));
  assert(numel(installed) == 1, 'expected one package installed under %s', prefix);
  pkg('load', installed{1}.name);

  for k = 1:numel(pluginNames)
    checkInstalled(pluginNames{k}, 3, prefix);
  end
  for k = 1:numel(toolboxNames)
    checkInstalled(toolboxNames{k}, 2, prefix);
  end

  % fennock on one 2 x 3 map: v becomes s*(2/(1 + exp(-2*v/s)) - 1), computed in double
  % precision in that order and stored in single precision, bit for bit.
  level = 2.5;
  values = single([-7 -1.25 0; 0.5 3 40]);
  maps = {values + 0};
  fennock(1, rows(values), columns(values), 1, level, maps);
  v = double(values);
  expected = single(level * ((2 ./ (exp((-2 * v) / level) + 1)) - 1));
  assert(isequal(maps{1}, expected), 'fennock: expected %s, got %s', ...
         mat2str(expected), mat2str(maps{1}));

  % The toolbox's private helpers came along (every settings call goes through them), and
  % so did the data fetcher the demo names.
  settings = detector_settings('elementCount', 7);
  assert(settings.elementCount == 7, 'detector_settings did not take elementCount from the package');
  fetcher = fullfile(fileparts(which('face_demo')), 'fetch-data.sh');
  assert(exist(fetcher, 'file') == 2, 'the package has no %s', fetcher);

  if hasFilterBank
    bank = filter_bank();
    assert(iscell(bank) && ~isempty(bank), 'filter_bank() did not return a cell array of filters');
    assert(all(cellfun(@(f) isnumeric(f) && ~isempty(f), bank(:))), ...
           'filter_bank() returned a cell that is not a numeric filter');
  end
end

function checkInstalled(name, kind, prefix)
% Checks that name resolves to a file of the installed package, of the kind exist() names
% (2 for a function file, 3 for a MEX file), and that help finds its help text.
  assert(exist(name) == kind, '%s: exist gives %d, expected %d', name, exist(name), kind);
  file = which(name);
  assert(strncmp(file, prefix, numel(prefix)), '%s comes from %s, not from the package', name, file);
  [text, format] = get_help_text(name);
  assert(~isempty(strtrim(text)), '%s: no help text (%s)', name, format);
end
