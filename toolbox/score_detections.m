function [found, precision, recall, matched] = score_detections(centres, faceCentres, radius)
% SCORE_DETECTIONS  Faces found among the first N detections, N the number of faces.
%
%   [found, precision, recall, matched] = score_detections(centres, faceCentres, radius)
%
%   Takes the first N detections, N being the number of faces, and matches them in the
%   order found (match_detections): each takes the nearest face that no earlier detection
%   took, and finds it when the face's centre lies within the face's radius. Precision at
%   N is the share of those detections that found a face (of all N, or of the fewer made),
%   recall at N the share of the faces found.
%
%   Arguments:
%     centres      n x 2 [row, col] detection centres, in the order found (for example
%                  [[detections.row]', [detections.col]'] of detect_faces).
%     faceCentres  N x 2 [row, col] centres of the faces (read_face_labels).
%     radius       matching distance in pixels: one for every face, or N, one per face
%                  (half of each face's height scores a detection found when its centre
%                  lies within half the face's box side).
%   Returns:
%     found      faces found among the first N detections.
%     precision  found divided by the number of detections scored (NaN when none).
%     recall     found / N (NaN when N is 0).
%     matched    min(n, N) x 1 logical: which of the first N detections found a face.
%
%   Example:
%     faces = [40 60; 45 120];                       % two faces, 30 and 28 pixels high
%     detections = [44 118; 90 200; 41 58];          % the third comes too late to count
%     [found, precision, recall] = score_detections(detections, faces, [30; 28] / 2);
%     printf('found %d of 2: precision %.2f, recall %.2f\n', found, precision, recall);

  faceCount = size(faceCentres, 1);
  scored = centres(1:min(size(centres, 1), faceCount), :);
  matched = match_detections(scored, faceCentres, radius);
  found = sum(matched);
  precision = found / numel(matched);
  recall = found / faceCount;
end
