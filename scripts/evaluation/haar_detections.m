function [centres, failure] = haar_detections(peerScript, file)
% HAAR_DETECTIONS  The Haar cascade's detections of a photo, ranked, from the peer script.
%
%   [centres, failure] = haar_detections(peerScript, file)
%
%   Runs peerScript (scripts/peers/haar_faces.py) on the photo and reads its detections,
%   ranked by the cascade's level weight, highest first; what the script prints on standard
%   error (such as the image reader's warnings) is not shown. When the script fails (OpenCV
%   or the cascade missing, the photo unreadable), centres is empty and failure holds what
%   it printed on standard error; otherwise failure is empty.
%
%   Returns:
%     centres  n x 2 [row, col] box centres, pixels counted from 1.
%     failure  '' or the reason the script gave.
%
%   Example:
%     [centres, failure] = haar_detections('scripts/peers/haar_faces.py', 'data/astronaut.png');
%     printf('%d detections%s\n', rows(centres), failure);

  messages = [tempname() '.txt'];
  removeMessages = onCleanup(@() delete_if_there(messages));
  [status, output] = system(sprintf('"%s" "%s" 2>"%s"', peerScript, file, messages));
  centres = zeros(0, 2);
  failure = '';
  if status ~= 0
    failure = strtrim(fileread(messages));
    return;
  end
  values = sscanf(output, '%f,%f,%f,%f,%f', [5, Inf])';
  if ~isempty(values)
    centres = values(:, 1:2);
  end
end

function delete_if_there(file)
% Deletes a file when it exists.
  if exist(file, 'file')
    delete(file);
  end
end
