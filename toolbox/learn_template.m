function template = learn_template(faces, filters, stamps, tables, varargin)
% LEARN_TEMPLATE  Learn a template of oriented elements shared by a set of training faces.
%
%   template = learn_template(faces, filters, stamps, tables)
%   template = learn_template(faces, filters, stamps, tables, settings)
%   template = learn_template(faces, filters, stamps, tables, 'name', value, ...)
%
%   The faces are resized to the template size, filtered and normalized, saturated in place
%   (fennock), pooled over small shifts of position and orientation (vindral), and handed
%   to quillon, which chooses elementCount elements one at a time and inhibits each chosen
%   element's neighbourhood in every training image, so that the next element explains
%   something new. Elements chosen once nothing is left to explain carry weight 0 (they
%   add nothing to a score); the count of those, and of elements that repeat an earlier
%   element's place, is reported.
%
%   Arguments:
%     faces     rows x cols x n grey or rows x cols x 3 x n colour aligned faces, of any
%               numeric class (integer classes are scaled to [0, 1]).
%     filters   filter bank and drawing stamps of the settings (filter_bank); others are
%     stamps    refused with learn_template:filterMismatch.
%     tables    lookup tables (background_tables) made with the same settings; others are
%               refused with learn_template:tablesMismatch.
%     settings  optional struct or name/value pairs (detector_settings); the learning
%               settings are used, and verbose: 0 prints nothing, 1 (default) a line per
%               phase and the summary line, 2 also one line per element as it is chosen.
%   Returns:
%     template struct with fields
%       elementCount, orients (0-based), rowOffsets, colOffsets (pooled units from the
%       anchor), weights, biases          the elements, as gastrel and tarrowveto take them
%       templateRows, templateCols       size in pixels
%       weightedCount, repeatedCount     elements that carry weight, elements on the place
%                                        of an earlier one
%       commonSketch                     the elements drawn at their own places
%       imageSketches, imageScores       each training image's deformed sketch and score
%       params                           the learning settings it was learned with
%
%   Example:
%     faces = zeros(30, 30, 6);
%     faces(12:18, :, :) = 1;                                   % a bright band in each face
%     [filters, stamps] = filter_bank();
%     tables = background_tables(rand(30, 30, 6), filters);
%     template = learn_template(faces, filters, stamps, tables, 'elementCount', 5, 'verbose', 0);
%     printf('%d elements, first of orientation %d\n', template.elementCount, template.orients(1));

  settings = resolve_settings('learn_template', varargin);
  check_filters('learn_template', filters, stamps, settings);
  check_tables(tables, settings);
  faces = grey_image(faces, 'learn_template', 'faces', true);
  verbose = settings.verbose;
  started = tic;
  responses = patch_responses(faces, filters, settings);
  [imageCount, orientCount] = size(responses);
  side = settings.templateSize;
  step = settings.poolStep;
  fennock(imageCount, side * ones(1, imageCount), side * ones(1, imageCount), orientCount, ...
          settings.saturationLevel, responses);
  pooledSide = floor(side / step);
  pooled = fresh_maps([pooledSide, pooledSide], imageCount * orientCount);
  traces = fresh_maps([pooledSide, pooledSide], imageCount * orientCount);
  pooled = reshape(pooled, imageCount, orientCount);
  traces = reshape(traces, imageCount, orientCount);
  vindral(imageCount, side * ones(1, imageCount), side * ones(1, imageCount), orientCount, ...
          settings.posShiftMax, settings.orientShiftMax, step, responses, pooled, traces);
  say(verbose, 'learn_template: %d faces filtered, normalized and pooled (%.2f s)\n', ...
         imageCount, toc(started));

  started = tic;
  count = settings.elementCount;
  orients = zeros(1, count); rowOffsets = zeros(1, count); colOffsets = zeros(1, count);
  weights = zeros(1, count); biases = zeros(1, count);
  imageScores = zeros(1, imageCount);
  commonSketch = zeros(side, side, 'single');
  imageSketches = fresh_maps([side, side], imageCount);
  overlap = overlap_table(filters, settings.overlapThreshold);
  % quillon prints one line per element: evalc keeps them off the screen unless asked for.
  learn = ['quillon(orientCount, settings.posShiftMax, settings.orientShiftMax, 0, step, ' ...
           'count, imageCount, side, side, responses, pooled, traces, settings.filterHalf, ' ...
           'overlap, stamps, tables.length, tables.weight, tables.meanResponse, tables.bias, ' ...
           'orients, rowOffsets, colOffsets, weights, biases, imageScores, commonSketch, ' ...
           'imageSketches);'];
  if verbose >= 2
    eval(learn);
  else
    evalc(learn);
  end

  places = [orients; rowOffsets; colOffsets]';
  [~, firstOfPlace] = unique(places, 'rows', 'first');
  template = struct('elementCount', count, 'orients', orients, 'rowOffsets', rowOffsets, ...
                    'colOffsets', colOffsets, 'weights', weights, 'biases', biases, ...
                    'templateRows', side, 'templateCols', side, ...
                    'weightedCount', sum(weights ~= 0), ...
                    'repeatedCount', count - numel(firstOfPlace), ...
                    'commonSketch', commonSketch, 'imageScores', imageScores, ...
                    'params', learning_settings(settings));
  template.imageSketches = imageSketches;
  say(verbose, 'learn_template: %s (%.2f s)\n', template_summary(template), toc(started));
end

function check_tables(tables, settings)
% Refuses tables that are not background_tables' or were made with other settings than
% those that shape them.
  fields = {'length', 'weight', 'meanResponse', 'bias'};
  if ~isstruct(tables) || ~all(isfield(tables, fields))
    error('learn_template:badArgument', ['learn_template: argument 4 (tables) must be the ' ...
          'struct background_tables makes, with fields %s'], strjoin(fields, ', '));
  end
  if ~isfield(tables, 'settings')
    return;
  end
  shaping = {'orientCount', 'filterHalf', 'wavelength', 'templateSize', 'poolStep', ...
             'normalizerHalf', 'relativeFloor', 'saturationLevel', 'binCount', 'lambdaStep', ...
             'lambdaMax'};
  for k = 1:numel(shaping)
    name = shaping{k};
    if ~isequal(tables.settings.(name), settings.(name))
      error('learn_template:tablesMismatch', ['learn_template: the tables were made with ' ...
            '%s %g, the learning settings have %g: make them with background_tables and ' ...
            'the same settings'], name, tables.settings.(name), settings.(name));
    end
  end
end
