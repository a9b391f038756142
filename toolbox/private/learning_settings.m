function learning = learning_settings(settings)
% LEARNING_SETTINGS  The learning settings of a full settings struct (detector_settings'
% rows of stage 'learning'), the ones a template or a set of tables is made with.
  [~, rules] = detector_settings();
  names = rules(strcmp(rules(:, 4), 'learning'), 1);
  learning = struct();
  for k = 1:numel(names)
    learning.(names{k}) = settings.(names{k});
  end
end
