function learning = learning_settings(settings)
% LEARNING_SETTINGS  The learning settings of a full settings struct (detector_settings'
% rows of stage 'learning'), the ones a template or a set of tables is made with.
  learning = settings_of_stage(settings, 'learning');
end
