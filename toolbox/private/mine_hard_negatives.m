function mined = mine_hard_negatives(files, template, filters, stamps, settings)
% MINE_HARD_NEGATIVES  The template's best detections on face-free photos, and random windows.
%
%   mined = mine_hard_negatives(files, template, filters, stamps, settings)
%
%   On each photo, detect_faces searches minedSizes face sizes (detector_settings), evenly
%   spaced in log scale from minedSmallest pixels to the photo's shorter side, for
%   max(minedPerPhoto, bootstrapCandidates) detections: those the template mistakes for
%   faces most. randomPerPhoto windows of random sizes and places over the same range are
%   cut out too, so that a model also sees ordinary background; they are drawn from a
%   generator of fixed state, so that the same photos give the same windows.
%
%   Arguments:
%     files      cell array of photo paths (photos that hold no face).
%     template   the template and its filter bank (face_template, learn_template);
%     filters
%     stamps
%     settings   detector_settings; windowSize is the windows' side.
%   Returns:
%     mined      struct array, one per photo: image (the grey photo), detections (in the
%                order found) and randomWindows (windowSize x windowSize x randomPerPhoto).

  randomState = 17;
  stream = rand('state');
  rand('state', randomState);
  mined = struct('image', {}, 'detections', {}, 'randomWindows', {});
  for k = 1:numel(files)
    image = read_image(files{k});
    shorter = min(size(image, 1), size(image, 2));
    sizes = exp(linspace(log(settings.minedSmallest), log(shorter), settings.minedSizes));
    found = detect_faces(image, template, filters, stamps, 'faceSizes', sizes, 'detectionCount', ...
                         max(settings.minedPerPhoto, settings.bootstrapCandidates), 'rerank', 0, ...
                         'verbose', 0);
    mined(k).image = image;
    mined(k).detections = found;
    mined(k).randomWindows = crop_windows(image, random_boxes(size(image), settings), ...
                                          settings.windowSize);
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
