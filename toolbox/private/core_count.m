function count = core_count()
% CORE_COUNT  The processor cores this process may use: Octave's nproc, MATLAB's
% feature('numcores').
  if exist('OCTAVE_VERSION', 'builtin')
    count = nproc();
  else
    count = feature('numcores');
  end
end
