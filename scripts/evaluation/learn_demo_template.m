function [template, filters, stamps] = learn_demo_template(dataDir)
% LEARN_DEMO_TEMPLATE  Learn, quietly, the template that face_demo learns.
%
%   [template, filters, stamps] = learn_demo_template(dataDir)
%
%   The default settings; the 100 aligned faces of dataDir/lfw_subset.npy with their mirror
%   images for the template, and its 100 non-face patches for the background tables, as
%   face_demo takes them. About a second.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh data) and the plug-ins built:
%     [template, filters, stamps] = learn_demo_template('data');
%     printf('%d elements, %d orientations\n', template.elementCount, numel(filters));

  faceCount = 100;              % the first patches are faces, the others non-faces
  settings = detector_settings('verbose', 0);
  patches = permute(read_npy(fullfile(dataDir, 'lfw_subset.npy')), [2 3 1]);
  faces = patches(:, :, 1:faceCount);
  faces = cat(3, faces, flip(faces, 2));
  nonFaces = patches(:, :, faceCount + 1:end);
  [filters, stamps] = filter_bank(settings);
  tables = background_tables(nonFaces, filters, settings);
  template = learn_template(faces, filters, stamps, tables, settings);
end
