function settings = reranker_settings(varargin)
% RERANKER_SETTINGS  The settings of the second stage that re-ranks detections, with defaults.
%
%   settings = reranker_settings()
%   settings = reranker_settings('name', value, ...)
%   settings = reranker_settings(partial, 'name', value, ...)
%
%   Returns a struct of every re-ranking setting: the defaults below, with those named in a
%   partial struct and then in name/value pairs put in their place. An unknown name is
%   refused with reranker_settings:unknownOption, a value that is not a real scalar or
%   vector with reranker_settings:badOption.
%
%   Re-ranking settings and defaults:
%     windowSize        40     a candidate's box is resampled to this many pixels square
%     cellSize          8      orientation amplitudes are summed over cells of this side
%     regularization    0.01   weight of the squared-weight penalty of the logistic model
%     scoreWeight       0.3    final score: the model's log odds plus this times the
%                              template's score (0: the model alone)
%     candidateFactor   5      candidates asked of detect_faces per face wanted,
%     candidateMinimum  50     and at least this many
%     jitterShifts      [-1 0 1]    training faces shifted by these multiples of
%                              jitterStep of their height, across and along,
%     jitterStep        0.04
%     jitterScales      [0.93 1 1.07]  and scaled by these factors
%     minedSizes        12     face sizes searched on each face-free photo, from
%     minedSmallest     24     this many pixels to the photo's shorter side
%     minedPerPhoto     60     hard negatives kept per face-free photo
%     randomPerPhoto    40     random windows kept per face-free photo
%     refineShift       0.12   each candidate's box is also tried shifted by this fraction
%                              of its size up, down, left and right,
%     refineScales      1      and scaled by these factors; the best box is kept (0 and 1:
%                              the box as found only)
%     refineSteps       3      the search around the box is repeated from the best box
%                              this many times
%     bootstrapCandidates 200  a second round of learning re-ranks this many detections
%                              per face-free photo with the first model and adds those it
%                              ranks highest (0: one round)
%
%   Example:
%     settings = reranker_settings('scoreWeight', 0.5);
%     printf('cells of %d pixels, score weight %.1f\n', settings.cellSize, settings.scoreWeight);

  % ---- re-ranking defaults: the one place they are kept ----
  defaults = struct('windowSize', 40, 'cellSize', 8, 'regularization', 0.01, ...
                    'scoreWeight', 0.3, 'candidateFactor', 5, 'candidateMinimum', 50, ...
                    'jitterShifts', [-1 0 1], 'jitterStep', 0.04, ...
                    'jitterScales', [0.93 1 1.07], 'minedSizes', 12, 'minedSmallest', 24, ...
                    'minedPerPhoto', 60, 'randomPerPhoto', 40, 'refineShift', 0.12, ...
                    'refineScales', 1, 'bootstrapCandidates', 200, 'refineSteps', 3);
  settings = defaults;
  args = varargin;
  if ~isempty(args) && isstruct(args{1})
    args = [reshape([fieldnames(args{1})'; struct2cell(args{1})'], 1, []), args(2:end)];
  end
  if mod(numel(args), 2) ~= 0
    error('reranker_settings:badOption', ['reranker_settings: settings come as name/value ' ...
          'pairs; got an odd count (%d)'], numel(args));
  end
  for k = 1:2:numel(args)
    name = args{k};
    if ~ischar(name) || ~isfield(defaults, name)
      error('reranker_settings:unknownOption', ['reranker_settings: unknown setting ''%s''; ' ...
            'known: %s'], num2str(name), strjoin(fieldnames(defaults)', ', '));
    end
    value = args{k + 1};
    if ~isnumeric(value) || ~isreal(value) || isempty(value) || ~isvector(value) || ...
       any(~isfinite(value))
      error('reranker_settings:badOption', ['reranker_settings: setting ''%s'' must be ' ...
            'finite real numbers'], name);
    end
    settings.(name) = double(value);
  end
end
