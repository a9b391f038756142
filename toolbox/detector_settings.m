function [settings, rules] = detector_settings(varargin)
% DETECTOR_SETTINGS  Every setting of learning and detection, with its default.
%
%   settings = detector_settings()
%   settings = detector_settings('name', value, ...)
%   settings = detector_settings(partial, 'name', value, ...)
%
%   Returns a struct holding every setting: the defaults, with the settings named in a
%   partial struct and then in name/value pairs put in their place. Each setting is checked:
%   an unknown or misspelt name is refused with detector_settings:unknownOption, a value of
%   the wrong type or range with detector_settings:badOption. The toolbox functions
%   (filter_bank, background_tables, learn_template, detect_faces, face_demo, detect_folder)
%   take the same names, as a partial struct or name/value pairs, so a struct made here can be passed to
%   every one of them.
%
%   Learning (the filter bank, the background tables and the template):
%     orientCount       8     filter orientations over 180 degrees
%     filterHalf        4     filters and stamps are (2*filterHalf+1) pixels square
%     wavelength        5     period of the filters' wave, pixels
%     templateSize      40    training faces are resized to this many pixels square
%     poolStep          2     pooled maps keep every poolStep-th pixel
%     posShiftMax       1     an element may move this many pooled steps across its edge
%     orientShiftMax    1     and turn by this many orientations
%     saturationLevel   3     normalized energies r saturate to s*tanh(r/s) at this s
%     elementCount      40    elements learned into the template
%     overlapThreshold  0.1   filters correlated above this inhibit each other
%     normalizerHalf    15    half width of the normalizer window; by default the largest
%                             that keeps the window inside the template's filter margin,
%                             floor((templateSize-1)/2) - filterHalf
%     relativeFloor     0.1   local means below this fraction of the largest are raised to it
%     binCount          60    background density bins over [0, saturationLevel)
%     lambdaStep        0.01  grid of element weights 0, lambdaStep, ...,
%     lambdaMax         10    up to lambdaMax
%   Detection:
%     faceSizes         []    face heights searched, pixels; [] searches every size from
%                             smallestFace up to the image's shorter side, sizeStep apart
%     smallestFace      24    the smallest face height of that automatic search, pixels
%     sizeStep          1.15  ratio of neighbouring sizes of the automatic search: faces
%                             between two sizes are within 7 % of one, which the template's
%                             shifts absorb
%     detectionCount    40    detections to make, at most
%     scoreThreshold    -Inf  stop when the best score left falls below this
%     exclusionRadius   0.75  no detection centred within this times an earlier one's height
%     inhibitionReach   2     a detection inhibits the maps of the face sizes within this
%                             factor of its own; at much larger or smaller sizes it rules
%                             out only the placements centred within exclusionRadius times
%                             the smaller face's height (Inf: every size as its own)
%     maxEnlargement    3     the image is enlarged at most this many times (faces smaller
%                             than templateSize/maxEnlargement pixels are refused)
%     memoryLimit       4     a search needing more than this many GB of maps is refused
%     keptMapsLimit     1     a search's maps, up to this many GB, stay in memory for the
%                             next search on a photo of the same size, which then reuses
%                             them instead of making fresh ones; 0 keeps none
%                             (clear detect_faces releases them)
%   Re-ranking (a second stage that rescores the best candidates of the search by a
%   logistic model of each candidate's window; learn_reranker, rerank_detections):
%     rerank            1     1: detect_faces re-ranks its candidates when the template
%                             carries a model (face_template learns one); 0: it does not
%     candidateFactor   3     candidates searched per detection asked, when re-ranking,
%     candidateMinimum  50    and at least this many
%     scoreWeight       0.3   a re-ranked score is the model's log odds plus this times
%                             the template's score
%     refineShift       0.12  each candidate's box is also tried moved by this fraction of
%                             its size up, down, left and right (and diagonally),
%     refineScales      1     and scaled by these factors; the best box is kept,
%     refineSteps       3     and the search around it repeated this many times
%     windowSize        40    a candidate's box is resampled to this many pixels square
%     cellSize          8     orientation amplitudes are summed over cells of this side
%     regularization    0.01  weight of the logistic model's squared-weight penalty
%     jitterShifts      [-1 0 1]  training faces are shifted by these multiples of
%     jitterStep        0.04      jitterStep of their size, across and along,
%     jitterScales      [0.93 1 1.07]  and scaled by these factors
%     minedSizes        12    hard negatives: the template's best detections on each
%     minedSmallest     24    face-free photo, at minedSizes sizes from minedSmallest pixels
%     minedPerPhoto     60    to its shorter side, this many per photo,
%     randomPerPhoto    40    with this many random windows per photo
%     bootstrapCandidates 200  a second round of learning re-ranks this many detections per
%                             face-free photo with the first model and adds the
%                             minedPerPhoto it ranks highest (0: one round)
%   Batches (detect_folder):
%     recursive         0     1: search the subfolders of the photo folder too
%     pictures          0     1: also write each photo's detection picture
%     jobs              0     worker processes (0: one per processor core)
%     threads           0     threads of each worker's filtering (0: the cores split
%                             evenly among the workers, at least 1)
%     progressInterval  0.5   seconds between progress lines, at least
%   Both:
%     verbose           1     0: quiet; 1: a line per phase, per scale and per detection;
%                             2: also learning's line per element
%
%   The second output, rules, lists every setting as a row {name, default, check, stage}
%   (stage 'learning', 'ranking' (learning the re-ranking model), 'detection', 'batch' or
%   'both'), for the toolbox's own checks.
%
%   Example:
%     settings = detector_settings('elementCount', 30);
%     printf('%d elements, filters of %d pixels\n', settings.elementCount, ...
%            2 * settings.filterHalf + 1);            % 30 elements, filters of 9 pixels

  % name                default                          check        stage
  rules = {
    'orientCount',        8,                               'count',     'learning'
    'filterHalf',         4,                               'count',     'learning'
    'wavelength',         5,                               'positive',  'learning'
    'templateSize',       40,                              'count',     'learning'
    'poolStep',           2,                               'count',     'learning'
    'posShiftMax',        1,                               'whole',     'learning'
    'orientShiftMax',     1,                               'whole',     'learning'
    'saturationLevel',    3,                               'positive',  'learning'
    'elementCount',       40,                              'count',     'learning'
    'overlapThreshold',   0.1,                             'fraction',  'learning'
    'normalizerHalf',     [],                              'auto',      'learning'
    'relativeFloor',      0.1,                             'fraction',  'learning'
    'binCount',           60,                              'count',     'learning'
    'lambdaStep',         0.01,                            'positive',  'learning'
    'lambdaMax',          10,                              'nonneg',    'learning'
    'faceSizes',          [],                              'sizes',     'detection'
    'smallestFace',       24,                              'positive',  'detection'
    'sizeStep',           1.15,                            'aboveOne',  'detection'
    'detectionCount',     40,                              'count',     'detection'
    'scoreThreshold',     -Inf,                            'threshold', 'detection'
    'exclusionRadius',    0.75,                            'nonneg',    'detection'
    'inhibitionReach',    2,                               'reach',     'detection'
    'maxEnlargement',     3,                               'atLeastOne', 'detection'
    'memoryLimit',        4,                               'positive',  'detection'
    'keptMapsLimit',      1,                               'nonneg',    'detection'
    'rerank',             1,                               'flag',      'detection'
    'candidateFactor',    3,                               'atLeastOne', 'detection'
    'candidateMinimum',   50,                              'whole',     'detection'
    'scoreWeight',        0.3,                             'nonneg',    'detection'
    'refineShift',        0.12,                            'nonneg',    'detection'
    'refineScales',       1,                               'sizes',     'detection'
    'refineSteps',        3,                               'whole',     'detection'
    'windowSize',         40,                              'count',     'ranking'
    'cellSize',           8,                               'count',     'ranking'
    'regularization',     0.01,                            'nonneg',    'ranking'
    'jitterShifts',       [-1 0 1],                        'numbers',   'ranking'
    'jitterStep',         0.04,                            'nonneg',    'ranking'
    'jitterScales',       [0.93 1 1.07],                   'sizes',     'ranking'
    'minedSizes',         12,                              'count',     'ranking'
    'minedSmallest',      24,                              'positive',  'ranking'
    'minedPerPhoto',      60,                              'whole',     'ranking'
    'randomPerPhoto',     40,                              'whole',     'ranking'
    'bootstrapCandidates', 200,                            'whole',     'ranking'
    'recursive',          0,                               'flag',      'batch'
    'pictures',           0,                               'flag',      'batch'
    'jobs',               0,                               'whole',     'batch'
    'threads',            0,                               'whole',     'batch'
    'progressInterval',   0.5,                             'positive',  'batch'
    'verbose',            1,                               'verbosity', 'both'
  };
  settings = resolve_settings('detector_settings', varargin, rules);
end
