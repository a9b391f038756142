function taps = resampling_taps(rows, cols, outRows, outCols)
% RESAMPLING_TAPS  The entries of resize_image's two resampling matrices, as scalum reads them.
%
%   taps = resampling_taps(rows, cols, outRows, outCols)
%
%   For each axis, the entries of resampling_matrix listed by output, sources in increasing
%   order (as find lists them): each output's count of sources, then every source and its
%   weight. scalum forms both sparse products from them on every core.
%
%   Arguments:
%     rows, cols        size of the images resized (positive integers).
%     outRows, outCols  size of the results (positive integers).
%   Returns:
%     taps              struct with fields colCounts, colSources, colWeights (outCols
%                       outputs) and rowCounts, rowSources, rowWeights (outRows outputs).
%
%   Example:
%     taps = resampling_taps(100, 80, 50, 40);
%     printf('%d sources for %d columns\n', numel(taps.colSources), numel(taps.colCounts));

  [colSources, colOutputs, colWeights] = find(resampling_matrix(cols, outCols)');
  [rowSources, rowOutputs, rowWeights] = find(resampling_matrix(rows, outRows)');
  taps = struct('colCounts', accumarray(colOutputs, 1, [outCols, 1]), 'colSources', colSources, ...
                'colWeights', colWeights, 'rowCounts', accumarray(rowOutputs, 1, [outRows, 1]), ...
                'rowSources', rowSources, 'rowWeights', rowWeights);
end
