function windows = mine_hard_negatives(files, template, filters, stamps, settings, model)
% MINE_HARD_NEGATIVES  Non-face windows that the template ranks highest, from face-free photos.
%
%   windows = mine_hard_negatives(files, template, filters, stamps, settings)
%   windows = mine_hard_negatives(files, template, filters, stamps, settings, model)
%
%   On each photo, detect_faces searches minedSizes face sizes (reranker_settings), evenly
%   spaced in log scale from minedSmallest pixels to the photo's shorter side, and its first
%   minedPerPhoto detections are cut out (crop_windows) as hard negatives; randomPerPhoto
%   windows of random sizes and places over the same range are added, so that the model
%   also sees ordinary background. The random windows are drawn from a generator of fixed
%   state, so that the same photos give the same windows. Given a re-ranking model, the
%   photo's first bootstrapCandidates detections are re-ranked with it (rerank_detections)
%   instead, and the minedPerPhoto it ranks highest are kept, with the boxes it chose: the
%   windows that model mistakes for faces most.
%
%   Arguments:
%     files      cell array of photo paths (photos that hold no face).
%     template   the template and its filter bank (face_template, learn_template);
%     filters
%     stamps
%     settings   reranker_settings; windowSize is the windows' side.
%     model      optional re-ranking model (learn_reranker).
%   Returns:
%     windows    windowSize x windowSize x n array of grey windows.
%
%   Example:
%     % with the data fetched (scripts/fetch-data.sh --face-free data) and the plug-ins built:
%     [template, filters, stamps] = learn_demo_template('data');
%     files = face_free_photos('data');
%     windows = mine_hard_negatives(files(1), template, filters, stamps, reranker_settings());
%     printf('%d windows\n', size(windows, 3));

  randomState = 17;
  side = settings.windowSize;
  windows = zeros(side, side, 0);
  stream = rand('state');
  rand('state', randomState);
  for k = 1:numel(files)
    image = read_image(files{k});
    shorter = min(size(image, 1), size(image, 2));
    sizes = exp(linspace(log(settings.minedSmallest), log(shorter), settings.minedSizes));
    if nargin < 6
      found = detect_faces(image, template, filters, stamps, 'faceSizes', sizes, ...
                           'detectionCount', settings.minedPerPhoto, 'verbose', 0);
    else
      found = detect_faces(image, template, filters, stamps, 'faceSizes', sizes, ...
                           'detectionCount', settings.bootstrapCandidates, 'verbose', 0);
      found = rerank_detections(image, found, model, filters, settings);
      found = found(1:min(numel(found), settings.minedPerPhoto));
    end
    mined = [[found.row]', [found.col]', [found.height]', [found.width]'];
    windows = cat(3, windows, crop_windows(image, reshape(mined, [], 4), side), ...
                  crop_windows(image, random_boxes(size(image), settings), side));
  end
  rand('state', stream);
end

function boxes = random_boxes(imageSize, settings)
% Square boxes of random sizes (uniform in log scale over the mined range) lying wholly
% inside the image.
  shorter = min(imageSize(1:2));
  count = settings.randomPerPhoto;
  sides = exp(log(settings.minedSmallest) + rand(count, 1) * log(shorter / settings.minedSmallest));
  rowsCentre = sides / 2 + 0.5 + rand(count, 1) .* (imageSize(1) - sides);
  colsCentre = sides / 2 + 0.5 + rand(count, 1) .* (imageSize(2) - sides);
  boxes = [rowsCentre, colsCentre, sides, sides];
end
