function windows = whole_windows(patches, side)
% WHOLE_WINDOWS  Every patch of a rows x cols x n stack resampled whole to side x side
% (crop_windows of the whole patch).
  [patchRows, patchCols, count] = size(patches);
  wholePatch = [(patchRows + 1) / 2, (patchCols + 1) / 2, patchRows, patchCols];
  windows = zeros(side, side, count);
  for k = 1:count
    windows(:, :, k) = crop_windows(patches(:, :, k), wholePatch, side);
  end
end
