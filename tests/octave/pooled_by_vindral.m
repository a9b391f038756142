function [pooled, traces] = pooled_by_vindral(responses, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep)
% POOLED_BY_VINDRAL  vindral's pooled and trace maps of a response grid, each cell its own array.
  imageCount = numel(rows);
  pooled = cell(imageCount, orientCount);
  traces = pooled;
  for k = 1:numel(pooled)
    image = mod(k - 1, imageCount) + 1;
    pooled{k} = zeros(floor(rows(image) / poolStep), floor(cols(image) / poolStep), 'single');
    traces{k} = zeros(size(pooled{k}), 'single');
  end
  vindral(imageCount, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep, responses, pooled, traces);
end
