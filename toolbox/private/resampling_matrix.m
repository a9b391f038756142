function matrix = resampling_matrix(n, outN)
% RESAMPLING_MATRIX  The outN x n sparse matrix that resizes one axis of n pixels to outN, as
% resize_image does: a Gaussian blur of standard deviation 0.5*(n/outN - 1) pixels when
% shrinking (edges replicated), then linear interpolation at (u - 0.5)*n/outN + 0.5,
% clamped to [1, n]. Only the blurred values that the interpolation reads are formed.
  factor = n / outN;
  matrix = interpolation_matrix(min(max(((1:outN) - 0.5) * factor + 0.5, 1), n), n);
  sigma = 0.5 * (factor - 1);
  if sigma > 0
    read = find(any(matrix, 1));
    matrix = matrix(:, read) * blur_rows(n, sigma, read);
  end
end

function matrix = blur_rows(n, sigma, rows)
% Rows `rows` of the n x n sparse matrix of a normalized Gaussian blur with the edges
% replicated.
  half = ceil(3 * sigma);
  kernel = exp(-(-half:half).^2 / (2 * sigma^2));
  kernel = kernel / sum(kernel);
  count = numel(rows);
  cols = min(max(rows(:) + (-half:half), 1), n);
  matrix = sparse(repmat((1:count)', 1, 2 * half + 1), cols, repmat(kernel, count, 1), count, n);
end
