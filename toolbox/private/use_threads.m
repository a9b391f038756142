function use_threads(count)
% USE_THREADS  Lets the filtering's transforms use count threads: Octave's fftw('threads'),
% MATLAB's maxNumCompThreads. (The matrix products' threads are set by OMP_NUM_THREADS and
% OPENBLAS_NUM_THREADS when the process starts.)
  if exist('OCTAVE_VERSION', 'builtin')
    fftw('threads', count);
  else
    maxNumCompThreads(count);
  end
end
