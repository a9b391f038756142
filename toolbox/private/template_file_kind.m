function kind = template_file_kind()
% TEMPLATE_FILE_KIND  The text that marks a MAT file as save_template's.
  kind = 'orientplugins face template';
end
