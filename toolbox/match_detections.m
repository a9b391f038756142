function [matched, reference] = match_detections(centres, referenceCentres, radius)
% MATCH_DETECTIONS  Match detections, in the order found, to reference centres.
%
%   [matched, reference] = match_detections(centres, referenceCentres, radius)
%
%   Each detection in turn takes the nearest reference centre that no earlier detection
%   took; it counts as a match when that centre lies within the reference's radius in pixels
%   (inclusive). A detection that is not a match takes nothing, so later detections may
%   still match.
%
%   Arguments:
%     centres           n x 2 [row, col] detection centres, in the order found.
%     referenceCentres  m x 2 [row, col] reference centres.
%     radius            largest matching distance in pixels: one for all references, or
%                       m, one per reference (for example half of each face's height);
%                       other counts are refused with match_detections:badRadius.
%   Returns:
%     matched    n x 1 logical: detection i matched a reference.
%     reference  n x 1 index of the reference it matched (0 when none).
%
%   Example:
%     matched = match_detections([10 10; 12 11; 50 50], [11 10; 80 80], 5)   % [1; 0; 0]

  referenceCount = size(referenceCentres, 1);
  if ~isscalar(radius) && numel(radius) ~= referenceCount
    error('match_detections:badRadius', ['match_detections: argument 3 (radius) must be ' ...
          'one distance or one per reference (%d); got %d values'], referenceCount, numel(radius));
  end
  radii = radius(:) .* ones(referenceCount, 1);
  count = size(centres, 1);
  matched = false(count, 1);
  reference = zeros(count, 1);
  taken = false(referenceCount, 1);
  for i = 1:count
    distance = sqrt(sum((referenceCentres - centres(i, :)).^2, 2));
    distance(taken) = Inf;
    [nearest, j] = min(distance);
    if ~isempty(nearest) && nearest <= radii(j)
      matched(i) = true;
      reference(i) = j;
      taken(j) = true;
    end
  end
end
