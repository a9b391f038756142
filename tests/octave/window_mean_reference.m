function divisors = window_mean_reference(maps, rows, cols, edgeMargin, hx, hy, relativeFloor, cls)
% WINDOW_MEAN_REFERENCE  The divisor of every position, its floored window mean (1 where that
% is exactly 0), computed step by step in plain Octave for the tests of somvert, somvertwide
% and brelind.
%   divisors = window_mean_reference(maps, rows, cols, edgeMargin, hx, hy, relativeFloor, cls)
%   takes a cell array of orientation maps and returns a rows x cols array of class cls
%   ('single' or 'double'), or [] when no window fits. Every stored value is rounded to cls
%   where the plug-ins store it: orientation sums after each addition, running sums,
%   means, divisors.
  n = numel(maps);
  r0 = edgeMargin + hx; r1 = rows - edgeMargin - hx;
  c0 = edgeMargin + hy; c1 = cols - edgeMargin - hy;
  if r0 >= r1 || c0 >= c1
    divisors = [];
    return;
  end
  orientSum = zeros(rows, cols, cls);
  for o = 1:n
    orientSum = orientSum + reshape(maps{o}(1:rows*cols), rows, cols);
  end
  running = zeros(rows, cols, cls);
  running(1, 1) = orientSum(1, 1);
  for x = 2:rows
    running(x, 1) = running(x-1, 1) + orientSum(x, 1);
  end
  for y = 2:cols
    running(1, y) = running(1, y-1) + orientSum(1, y);
  end
  for x = 2:rows
    for y = 2:cols
      running(x, y) = cast(((double(running(x, y-1)) + double(running(x-1, y))) ...
                            - double(running(x-1, y-1))) + double(orientSum(x, y)), cls);
    end
  end
  % padded(i + 2, j + 2) is the running sum of 0-based row i and column j; zero for -1.
  padded = zeros(rows + 1, cols + 1);
  padded(2:end, 2:end) = double(running);
  X = (r0:r1-1)';
  Y = c0:c1-1;
  s = ((padded(X+hx+2, Y+hy+2) - padded(X-hx+1, Y+hy+2)) - padded(X+hx+2, Y-hy+1)) ...
      + padded(X-hx+1, Y-hy+1);
  means = cast(s / (2*hx + 1) / (2*hy + 1) / n, cls);
  maxMean = cast(-1e10, cls);
  for i = 1:size(means, 1)
    for j = 1:size(means, 2)
      if means(i, j) > maxMean
        maxMean = means(i, j);
      end
    end
  end
  % Every position takes the mean of the nearest interior position.
  nearestRow = min(max(0:rows-1, r0), r1 - 1) - r0 + 1;
  nearestCol = min(max(0:cols-1, c0), c1 - 1) - c0 + 1;
  divisors = means(nearestRow, nearestCol);
  t = double(maxMean) * relativeFloor;
  divisors(~(t < double(divisors))) = cast(t, cls);
  divisors(divisors == 0) = 1;
end
