function [matched, reference] = match_detections(centres, referenceCentres, radius)
% MATCH_DETECTIONS  Match detections, in the order found, to reference centres.
%
%   [matched, reference] = match_detections(centres, referenceCentres, radius)
%
%   Each detection in turn takes the nearest reference centre that no earlier detection
%   took; it counts as a match when that centre lies within radius pixels (inclusive).
%   A detection that is not a match takes nothing, so later detections may still match.
%
%   Arguments:
%     centres           n x 2 [row, col] detection centres, in the order found.
%     referenceCentres  m x 2 [row, col] reference centres.
%     radius            largest matching distance in pixels.
%   Returns:
%     matched    n x 1 logical: detection i matched a reference.
%     reference  n x 1 index of the reference it matched (0 when none).
%
%   Example:
%     matched = match_detections([10 10; 12 11; 50 50], [11 10; 80 80], 5)   % [1; 0; 0]

  count = size(centres, 1);
  matched = false(count, 1);
  reference = zeros(count, 1);
  taken = false(size(referenceCentres, 1), 1);
  for i = 1:count
    distance = sqrt(sum((referenceCentres - centres(i, :)).^2, 2));
    distance(taken) = Inf;
    [nearest, j] = min(distance);
    if ~isempty(nearest) && nearest <= radius
      matched(i) = true;
      reference(i) = j;
      taken(j) = true;
    end
  end
end
