function [template, filters, stamps] = learn_demo_template(dataDir)
% LEARN_DEMO_TEMPLATE  The template face_demo learns, with its re-ranking model, quietly.
%
%   [template, filters, stamps] = learn_demo_template(dataDir)
%
%   The default settings, as face_demo takes them: the 100 aligned faces of
%   dataDir/lfw_subset.npy with their mirror images, its 100 non-face patches, and the
%   face-free photos for the re-ranking model (face_template). The template is kept in
%   dataDir/demo-template.mat, so that only the first call learns it (about a minute, for
%   the model); later ones load it.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh data) and the plug-ins built:
%     [template, filters, stamps] = learn_demo_template('data');
%     printf('%d elements, %d orientations\n', template.elementCount, numel(filters));

  [template, filters, stamps] = face_template(fullfile(dataDir, 'demo-template.mat'), ...
                                              'dataDir', dataDir, 'verbose', 0);
end
