function [model, negativeCount] = learn_demo_reranker(dataDir, template, filters, stamps, settings)
% LEARN_DEMO_RERANKER  Learn, quietly, the re-ranking model that make evaluate applies.
%
%   [model, negativeCount] = learn_demo_reranker(dataDir, template, filters, stamps, settings)
%
%   Positives: the 100 aligned faces of dataDir/lfw_subset.npy and their mirror images (the
%   template's training faces; learn_reranker jitters them). Negatives: the template's hard
%   negatives and random windows on the face-free photos (mine_hard_negatives on
%   face_free_photos), and the 100 non-face patches of lfw_subset.npy with their mirror
%   images. With bootstrapCandidates (reranker_settings) above 0, a second round adds the
%   windows of the face-free photos that the first model ranks highest and learns again.
%   About a minute.
%
%   Arguments:
%     dataDir    the data cache, holding lfw_subset.npy and the face-free photos
%                (scripts/fetch-data.sh --face-free).
%     template   face_demo's template and filter bank (learn_demo_template).
%     filters
%     stamps
%     settings   reranker_settings.
%   Returns:
%     model          the model (learn_reranker).
%     negativeCount  the non-face windows it was learned from.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh --face-free data) and the plug-ins built:
%     [template, filters, stamps] = learn_demo_template('data');
%     model = learn_demo_reranker('data', template, filters, stamps, reranker_settings());
%     printf('learned from %d faces and %d non-faces\n', model.faceCount, model.nonFaceCount);

  faceCount = 100;              % the first patches of lfw_subset.npy are faces, the others not
  patches = permute(read_npy(fullfile(dataDir, 'lfw_subset.npy')), [2 3 1]);
  faces = patches(:, :, 1:faceCount);
  nonFaces = patches(:, :, faceCount + 1:end);
  mined = mine_hard_negatives(face_free_photos(dataDir), template, filters, stamps, settings);
  side = settings.windowSize;
  nonFaces = cat(3, nonFaces, flip(nonFaces, 2));
  [patchRows, patchCols, patchCount] = size(nonFaces);
  wholePatch = [(patchRows + 1) / 2, (patchCols + 1) / 2, patchRows, patchCols];
  negatives = zeros(side, side, patchCount);
  for k = 1:patchCount
    negatives(:, :, k) = crop_windows(nonFaces(:, :, k), wholePatch, side);
  end
  negatives = cat(3, mined, negatives);
  faces = cat(3, faces, flip(faces, 2));
  model = learn_reranker(faces, negatives, filters, settings);
  if settings.bootstrapCandidates > 0
    negatives = cat(3, negatives, mine_hard_negatives(face_free_photos(dataDir), template, ...
                                                      filters, stamps, settings, model));
    model = learn_reranker(faces, negatives, filters, settings);
  end
  negativeCount = size(negatives, 3);
end
