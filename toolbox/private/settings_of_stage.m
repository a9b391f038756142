function chosen = settings_of_stage(settings, stage)
% SETTINGS_OF_STAGE  The settings of one stage (detector_settings' rows whose stage is
% `stage`, e.g. 'learning' or 'ranking'), taken from a full settings struct.
  [~, rules] = detector_settings();
  names = rules(strcmp(rules(:, 4), stage), 1);
  chosen = struct();
  for k = 1:numel(names)
    chosen.(names{k}) = settings.(names{k});
  end
end
