function [template, filters, stamps] = learn_demo_template(dataDir, templateFile)
% LEARN_DEMO_TEMPLATE  The template face_demo learns, with its re-ranking model, quietly.
%
%   [template, filters, stamps] = learn_demo_template(dataDir)
%   [template, filters, stamps] = learn_demo_template(dataDir, templateFile)
%
%   The default settings, as face_demo takes them: the 100 aligned faces of
%   dataDir/lfw_subset.npy with their mirror images, its 100 non-face patches, and the
%   face-free photos for the re-ranking model (face_template). The template is kept in
%   templateFile (default dataDir/demo-template.mat), so that only the first call learns it
%   (about 20 s, for the model); later ones load it.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh data) and the plug-ins built:
%     [template, filters, stamps] = learn_demo_template('data');
%     printf('%d elements, %d orientations\n', template.elementCount, numel(filters));

  if nargin < 2
    templateFile = fullfile(dataDir, 'demo-template.mat');
  end
  [template, filters, stamps] = face_template(templateFile, 'dataDir', dataDir, 'verbose', 0);
end
