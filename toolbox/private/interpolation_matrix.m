function matrix = interpolation_matrix(positions, n)
% INTERPOLATION_MATRIX  The sparse matrix that samples a line of n values linearly.
%
%   matrix = interpolation_matrix(positions, n)
%
%   Row u of the numel(positions) x n result holds the weights that interpolate the values
%   1 ... n linearly at positions(u): 1 - f at floor(positions(u)) and f at the next value,
%   f the fraction. A row is zero where its position lies outside [1, n]. Resampling an
%   image along both axes is then rowMatrix * image * colMatrix'.
%
%   Example:
%     printf('%g ', full(interpolation_matrix([1 1.25 3.5], 3) * [10; 20; 30]));

  positions = positions(:);
  count = numel(positions);
  inside = find(positions >= 1 & positions <= n);
  lower = min(floor(positions(inside)), max(n - 1, 1));
  fraction = positions(inside) - lower;
  matrix = sparse([inside; inside], [lower; min(lower + 1, n)], [1 - fraction; fraction], count, n);
end
