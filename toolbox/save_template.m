function save_template(file, template, filters, stamps, training)
% SAVE_TEMPLATE  Save a learned template, with its filter bank and settings, to a MAT file.
%
%   save_template(file, template, filters, stamps)
%   save_template(file, template, filters, stamps, training)
%
%   Writes a MAT file in MATLAB's v7 format (compressed; Octave and MATLAB both read it)
%   holding the template, whose params field holds the learning settings it was learned
%   with, the filter bank and stamps it was learned with, and an optional description of
%   its training data. The file is written under a temporary name beside it and renamed
%   when complete, so that no reader ever sees half a file. load_template reads it back,
%   and detect_faces finds exactly the same detections with what it returns as with the
%   template in memory.
%
%   Arguments:
%     file      name of the file to write (its folder must exist); .mat is the usual ending.
%     template  learned template (learn_template), refused otherwise with
%               save_template:badTemplate.
%     filters   the filter bank and stamps it was learned with (filter_bank); others are
%     stamps    refused with save_template:filterMismatch.
%     training  optional struct describing the training data (face_template stores the
%               data file, the counts of faces and non-faces and a checksum of them).
%   A file that cannot be written is refused with save_template:cannotWrite.
%
%   Example:
%     faces = zeros(30, 30, 6);
%     faces(12:18, :, :) = 1;                                   % a bright band in each face
%     [filters, stamps] = filter_bank();
%     tables = background_tables(rand(30, 30, 6), filters);
%     template = learn_template(faces, filters, stamps, tables, 'elementCount', 5, 'verbose', 0);
%     file = [tempname() '.mat'];
%     save_template(file, template, filters, stamps);
%     printf('same template read back: %d\n', isequal(load_template(file), template));  % 1
%     delete(file);

  if nargin < 4
    error('save_template:tooFewArguments', ['save_template: expected a file name, a template, ' ...
          'its filters and its stamps; got %d arguments'], nargin);
  end
  if nargin < 5
    training = struct();
  end
  if ~ischar(file) || isempty(file) || ~isrow(file)
    error('save_template:badArgument', 'save_template: argument 1 (file) must be a file name; got a %s', ...
          class(file));
  end
  check_template('save_template', template, 2);
  check_filters('save_template', filters, stamps, template.params);
  if ~isstruct(training) || ~isscalar(training)
    error('save_template:badArgument', ['save_template: argument 5 (training) must be a ' ...
          'scalar struct; got a %s'], class(training));
  end
  fileKind = template_file_kind();
  formatVersion = 1;
  temporary = temporary_name(file);
  try
    save('-v7', temporary, 'fileKind', 'formatVersion', 'template', 'filters', 'stamps', 'training');
  catch failure
    if exist(temporary, 'file')
      delete(temporary);
    end
    error('save_template:cannotWrite', 'save_template: cannot write %s: %s', file, failure.message);
  end
  replace_file('save_template', temporary, file);
end
