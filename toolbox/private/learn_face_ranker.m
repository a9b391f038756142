function ranker = learn_face_ranker(data, photos, template, filters, stamps, settings)
% LEARN_FACE_RANKER  The re-ranking model of a face template, learned from its training data.
%
%   ranker = learn_face_ranker(data, photos, template, filters, stamps, settings)
%
%   Positives: the template's training faces (data.faces, mirror images included;
%   learn_reranker jitters them). Negatives: the template's minedPerPhoto best detections
%   and random windows on each face-free photo (mine_hard_negatives), and data.nonFaces with
%   their mirror images. With bootstrapCandidates above 0, a second round re-ranks that many
%   detections of each photo with the first model, adds the minedPerPhoto it ranks highest
%   (in the boxes it chose) and learns again. The model's field
%   params holds the ranking settings it was learned with.
  side = settings.windowSize;
  negatives = whole_windows(cat(3, data.nonFaces, flip(data.nonFaces, 2)), side);
  mined = mine_hard_negatives(photos, template, filters, stamps, settings);
  firstRound = cell(1, numel(mined));
  for k = 1:numel(mined)
    found = mined(k).detections(1:min(end, settings.minedPerPhoto));
    firstRound{k} = cat(3, windows_of(mined(k).image, found, side), mined(k).randomWindows);
  end
  negatives = cat(3, firstRound{:}, negatives);
  ranker = learn_reranker(data.faces, negatives, filters, settings);
  if settings.bootstrapCandidates > 0
    secondRound = cell(1, numel(mined));
    for k = 1:numel(mined)
      found = mined(k).detections(1:min(end, settings.bootstrapCandidates));
      found = rerank_detections(mined(k).image, found, ranker, filters, settings);
      secondRound{k} = windows_of(mined(k).image, found(1:min(end, settings.minedPerPhoto)), side);
    end
    ranker = learn_reranker(data.faces, cat(3, negatives, secondRound{:}), filters, settings);
  end
  ranker.params = settings_of_stage(settings, 'ranking');
end

function windows = windows_of(image, detections, side)
% The windows of the detections' boxes.
  boxes = [[detections.row]', [detections.col]', [detections.height]', [detections.width]'];
  windows = crop_windows(image, reshape(boxes, [], 4), side);
end
