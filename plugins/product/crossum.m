% CROSSUM  The product left' * right of two double matrices, each entry summed in row order.
%
%   crossum(innerCount, leftCols, rightCols, left, right, product)
%
%   Writes into product, a leftCols x rightCols matrix, the entries
%       product(i, j) = sum over l = 1 ... innerCount of left(l, i) * right(l, j)
%   each sum started at 0 and formed in double precision in the order l = 1, 2, ..., whatever
%   the processor and however many threads share the entries: the order in which the
%   reference BLAS forms left' * right, and so the same bits as Octave's product on a machine
%   that uses it, on every core. (An optimized BLAS forms the sums in other orders, and its
%   bits depend on the machine.) Used by the re-ranking model's learning for its curvature
%   matrix, the bulk of its time. The call returns nothing.
%
%   Arguments (counts rounded half up):
%     innerCount  real scalar, rows of left and of right (at least 0).                 read
%     leftCols    real scalar, columns of left: rows of the product (at least 0).      read
%     rightCols   real scalar, columns of right: columns of the product (at least 0).  read
%     left        double array of at least innerCount*leftCols values, column-major.   read
%     right       double array of at least innerCount*rightCols values.                read
%     product     double array of at least leftCols*rightCols values; those are
%                 overwritten, values beyond them untouched.              WRITTEN IN PLACE
%
%   Arguments past the sixth are ignored.
%
%   Threads: blocks of entries are shared among OpenMP threads (OMP_NUM_THREADS, by default
%   one per core) when the call is large enough; each entry is summed by one thread exactly
%   as on one thread.
%
%   IN-PLACE WARNING: Octave and MATLAB share the data of copied arrays until one copy is
%   changed, and this call changes the data itself. Make product fresh right before the call
%   (zeros(leftCols, rightCols)); a product sharing data with another argument is refused
%   with crossum:sharedData, and a slice passed as product writes into its source.
%
%   Array arguments must be full and real: a sparse or complex array is refused. A scalar
%   argument may be any real numeric or logical scalar, a sparse one included.
%
%   A malformed call is refused before any value changes, with an error whose identifier is
%   crossum:<reason> and whose message names the argument and its position:
%     tooFewArguments, tooManyOutputs (the call returns nothing), notScalar, outOfRange (a
%     negative count), wrongClass (an array not double), tooFewValues, sharedData.
%
%   Example:
%     left = [1 2; 3 4; 5 6]; right = [1; 0; 2];
%     product = zeros(2, 1);
%     crossum(3, 2, 1, left, right, product);
%     disp(product')                % 11 14, as left' * right
%
%   See also SCALUM.
