% The toolbox as a user calls it: settings with defaults and checks, images of any class and
% colour, refusals of mismatched filters, tables and templates, searches that cannot work,
% and what learning and detection report.

%!shared t, filters, stamps, scene
%! % A small hand-made template of four orientations, and a scene with structure in it.
%! [filters, stamps] = filter_bank('orientCount', 4);
%! t = struct('elementCount', 4, 'orients', [0 1 2 3], 'rowOffsets', [5 8 11 14], ...
%!            'colOffsets', [6 12 6 12], 'weights', [1 1.5 1 0.5], 'biases', [0.2 0.3 0.2 0.1], ...
%!            'templateRows', 40, 'templateCols', 40, 'params', detector_settings('orientCount', 4));
%! randn('seed', 7);
%! scene = conv2(randn(124, 150), ones(5) / 25, 'same');
%! scene = (scene - min(scene(:))) / (max(scene(:)) - min(scene(:)));

%!test
%! % Every default as documented; normalizerHalf follows the template size and filter width
%! % unless given; a partial struct and then name/value pairs take their places.
%! s = detector_settings();
%! assert([s.orientCount, s.filterHalf, s.wavelength, s.templateSize, s.poolStep], [8 4 5 40 2]);
%! assert([s.elementCount, s.normalizerHalf, s.detectionCount, s.exclusionRadius], [40 15 40 0.75]);
%! assert(s.faceSizes, []);
%! assert([s.smallestFace, s.sizeStep, s.inhibitionReach], [24 1.15 2]);
%! assert(detector_settings('templateSize', 30).normalizerHalf, 10);
%! assert(detector_settings('templateSize', 30, 'normalizerHalf', 3).normalizerHalf, 3);
%! s = detector_settings(struct('elementCount', 7, 'poolStep', 3), 'elementCount', 9);
%! assert([s.elementCount, s.poolStep], [9 3]);
%! [filters8, stamps8] = filter_bank();
%! assert([numel(filters8), size(filters8{1}), numel(stamps8)], [8 9 9 8]);
%! assert(filter_bank(s), filter_bank(8, 4, 5));

%!test
%! % Values of the wrong type or range are refused naming the option, the rule and the value.
%! bad = {'elementCount', 0; 'elementCount', 2.5; 'elementCount', 'forty'; 'poolStep', [1 2]; ...
%!        'overlapThreshold', 1.5; 'wavelength', Inf; 'scoreThreshold', NaN; 'faceSizes', [40 -1]; ...
%!        'faceSizes', {}; 'verbose', 3; 'maxEnlargement', 0.5; 'posShiftMax', -1; 'memoryLimit', 1i};
%! for k = 1:rows(bad)
%!   try
%!     detector_settings(bad{k, :});
%!     error('test:notRefused', '%s was accepted', bad{k, 1});
%!   catch failure
%!     assert(failure.identifier, 'detector_settings:badOption');
%!     assert(! isempty(strfind(failure.message, ['''' bad{k, 1} ''''])), failure.message);
%!     assert(! isempty(strfind(failure.message, 'got ')), failure.message);
%!   end
%! end

%!error <unknown option 'exclusionradius' \(did you mean 'exclusionRadius'\?\)> detector_settings('exclusionradius', 1)
%!error id=detect_faces:unknownOption detect_faces(scene, t, filters, stamps, 'exclusionradius', 1)
%!error id=learn_template:badArgument learn_template(zeros(40, 40, 2), filters, stamps, struct(), 'verbose')
%!error id=detector_settings:badArgument detector_settings(struct('a', {1, 2}))
%!error id=detector_settings:badArgument detector_settings(3, 4)

%!error <filters must be 8 arrays of 9 x 9 .* got 8 arrays, the first 11 x 11>
%! tables = background_tables(rand(25, 25, 2), filter_bank(8, 5, 5));
%!error id=learn_template:filterMismatch
%! [f, s] = filter_bank();
%! learn_template(rand(25, 25, 2), f, s(1:7), struct('length', 1, 'weight', 0, 'meanResponse', 1, 'bias', 0));
%!error id=detect_faces:filterMismatch detect_faces(scene, t, filter_bank(), stamps)
%!error <option 'orientCount' is fixed by the template, learned with 4; got 8> detect_faces(scene, t, filters, stamps, 'orientCount', 8)
%!error id=detect_faces:badTemplate detect_faces(scene, struct('weights', 1), filters, stamps)

%!error <tables were made with templateSize 30, the learning settings have 40>
%! [f, s] = filter_bank();
%! tables = background_tables(rand(25, 25, 2), f, 'templateSize', 30);
%! learn_template(rand(25, 25, 2), f, s, tables);

%!error <the image must be a rows x cols grey or rows x cols x 3 colour image.* got a 3x4x4 double> detect_faces(rand(3, 4, 4), t, filters, stamps)
%!error id=detect_faces:badImage detect_faces({scene}, t, filters, stamps)
%!error id=detect_faces:badImage detect_faces(complex(scene, 1), t, filters, stamps)
%!error id=detect_faces:badImage detect_faces('photo.png', t, filters, stamps)
%!error <must hold finite values> detect_faces([scene(:, 1:end - 1), NaN(124, 1)], t, filters, stamps)
%!error id=learn_template:badImage
%! [f, s] = filter_bank();
%! learn_template(rand(25, 25, 2, 2), f, s, struct('length', 1, 'weight', 0, 'meanResponse', 1, 'bias', 0));

%!test
%! % A colour image of any class gives exactly the detections of its grey conversion, and
%! % uint8 and uint16 images those of the same values scaled to [0, 1].
%! search = {'faceSizes', [40 48], 'detectionCount', 3, 'verbose', 0};
%! colour = uint8(round(255 * cat(3, scene, scene .^ 2, sqrt(scene))));
%! grey = 0.299 * double(colour(:, :, 1)) / 255 + 0.587 * double(colour(:, :, 2)) / 255 + ...
%!        0.114 * double(colour(:, :, 3)) / 255;
%! expected = detect_faces(grey, t, filters, stamps, search{:});
%! assert(numel(expected), 3);
%! assert(detect_faces(colour, t, filters, stamps, search{:}), expected);
%! assert(detect_faces(single(colour) / 255, t, filters, stamps, search{:}), ...
%!        detect_faces(double(single(colour) / 255), t, filters, stamps, search{:}));
%! bytes = uint8(round(255 * scene));
%! assert(detect_faces(bytes, t, filters, stamps, search{:}), ...
%!        detect_faces(double(bytes) / 255, t, filters, stamps, search{:}));
%! words = uint16(round(65535 * scene));
%! assert(detect_faces(words, t, filters, stamps, search{:}), ...
%!        detect_faces(double(words) / 65535, t, filters, stamps, search{:}));

%!function [printed, image] = evalc_read(file)
%!  printed = evalc('image = read_image(file);');
%!endfunction

%!test
%! % read_image: grey, colour, palette, 16-bit and grey-with-alpha files all come back grey in
%! % [0, 1], colour converted as detect_faces converts arrays, and nothing is printed.
%! folder = tempname(); mkdir(folder);
%! colour = uint8(reshape(0:3:(20 * 30 * 3 - 1) * 3, 20, 30, 3));
%! file = fullfile(folder, 'colour.png');
%! imwrite(colour, file);
%! [printed, image] = evalc_read(file);
%! assert(printed, '');
%! assert(image, 0.299 * double(colour(:, :, 1)) / 255 + 0.587 * double(colour(:, :, 2)) / 255 + ...
%!                0.114 * double(colour(:, :, 3)) / 255, 1e-15);
%! grey16 = uint16(reshape(0:599, 20, 30) * 100);
%! imwrite(grey16, fullfile(folder, 'grey16.png'));
%! assert(read_image(fullfile(folder, 'grey16.png')), double(grey16) / 65535);
%! palette = [linspace(0, 1, 20)', zeros(20, 1), linspace(1, 0, 20)'];
%! indices = uint8(mod(reshape(0:599, 20, 30), 20));
%! imwrite(indices, palette, fullfile(folder, 'palette.png'));
%! expected = 0.299 * palette(double(indices) + 1, 1) + 0.114 * palette(double(indices) + 1, 3);
%! assert(read_image(fullfile(folder, 'palette.png'))(:), expected, 1 / 255);
%! imwrite(uint8(128 * ones(20, 30)), fullfile(folder, 'alpha.png'), 'Alpha', uint8(ones(20, 30)));
%! assert(read_image(fullfile(folder, 'alpha.png')), 128 / 255 * ones(20, 30));
%! imwrite(colour, fullfile(folder, 'colour.jpg'), 'Quality', 95);
%! assert(size(read_image(fullfile(folder, 'colour.jpg'))), [20 30]);
%! delete(fullfile(folder, '*'));
%! rmdir(folder);

%!error <cannot read .*missing.png: No such file> read_image(fullfile(tempdir, 'missing.png'))
%!error <read_image: .*text.png is not a readable PNG or JPEG image>
%! file = fullfile(tempdir, 'text.png');
%! fid = fopen(file, 'w'); fprintf(fid, 'not an image'); fclose(fid);
%! unwind_protect
%!   read_image(file);
%! unwind_protect_cleanup
%!   delete(file);
%! end_unwind_protect

%!test
%! % A JPEG cut short is refused as damaged, whatever the warning settings, and the warning
%! % settings come back as they were; the whole file reads.
%! folder = tempname(); mkdir(folder);
%! whole = fullfile(folder, 'whole.jpg');
%! imwrite(uint8(255 * rand(120, 160)), whole, 'Quality', 90);
%! fid = fopen(whole, 'r'); bytes = fread(fid, Inf, 'uint8=>uint8'); fclose(fid);
%! cut = fullfile(folder, 'cut.jpg');
%! fid = fopen(cut, 'w'); fwrite(fid, bytes(1:round(end / 2))); fclose(fid);
%! unwind_protect
%!   assert(size(read_image(whole)), [120 160]);
%!   before = warning('off', 'all');
%!   try
%!     read_image(cut);
%!     error('test:notRefused', 'the JPEG cut short was read');
%!   catch failure
%!     assert(failure.identifier, 'read_image:notImage');
%!     assert(failure.message, sprintf('read_image: %s is a damaged image (Premature end of JPEG file)', cut));
%!   end
%!   assert(warning('query', 'Octave:language-extension').state, 'off');
%!   assert(warning('query', 'all').state, 'off');
%!   warning(before);
%! unwind_protect_cleanup
%!   delete(fullfile(folder, '*'));
%!   rmdir(folder);
%! end_unwind_protect

%!error <the 30 x 35 image holds no face of the sizes searched \(36 to 63 px\)> detect_faces(rand(30, 35), t, filters, stamps, 'faceSizes', [36 63], 'verbose', 0)
%!error <the 20 x 35 image holds no face of the sizes searched \(24 px\)> detect_faces(rand(20, 35), t, filters, stamps, 'verbose', 0)
%!error <option 'sizeStep' must be a finite number greater than 1; got 1> detect_faces(scene, t, filters, stamps, 'sizeStep', 1)

%!test
%! % Without faceSizes every size from smallestFace up to the image's shorter side is
%! % searched, sizeStep apart; under memoryLimit the smallest sizes are left out and reported.
%! [~, ~, report] = detect_faces(scene, t, filters, stamps, 'detectionCount', 1, 'verbose', 0);
%! assert(report.faceSizes, 24 * 1.15 .^ (0:11), 1e-12);       % 24 * 1.15^12 > 124
%! assert(report.skippedSizes, zeros(1, 0));
%! [~, ~, report] = detect_faces(scene, t, filters, stamps, 'smallestFace', 40, 'sizeStep', 1.5, ...
%!                               'detectionCount', 1, 'verbose', 0);
%! assert(report.faceSizes, [40 60 90], 1e-12);
%! printed = evalc(['[~, ~, report] = detect_faces(scene, t, filters, stamps, ''smallestFace'', 40, ' ...
%!                  '''sizeStep'', 1.5, ''detectionCount'', 1, ''memoryLimit'', 0.001);']);
%! assert(report.faceSizes, [60 90], 1e-12);
%! assert(report.skippedSizes, 40, 1e-12);
%! assert(! isempty(strfind(printed, 'faces under 60 px not searched')));
%!error <faces of 8 px would enlarge the 124 x 150 image 5.0 times .* search faces of at least 13.3 px> detect_faces(scene, t, filters, stamps, 'faceSizes', [8 12], 'verbose', 0)
%!error <would need about .* GB of maps \(2 scales, the largest 124 x 150\), beyond memoryLimit 0.001 GB> detect_faces(scene, t, filters, stamps, 'faceSizes', [40 60], 'memoryLimit', 0.001)

%!test
%! % Sizes larger than the image are skipped and reported; scale indices still count faceSizes.
%! [found, ~, report] = detect_faces(scene, t, filters, stamps, 'faceSizes', [40 500 44], ...
%!                                   'detectionCount', 4, 'verbose', 0);
%! assert(report.faceSizes, [40 44]);
%! assert(report.skippedSizes, 500);
%! assert(all(ismember([found.scale], [1 3])));
%! printed = evalc('detect_faces(scene, t, filters, stamps, ''faceSizes'', [40 500], ''detectionCount'', 2);');
%! assert(! isempty(strfind(printed, 'faces of 500 px skipped')));
%! assert(! isempty(strfind(printed, 'scale 1 of 1: faces of 40 px')));
%! assert(! isempty(strfind(printed, 'detection 2: score')));

%!function closest = closest_later(found)
%! % Per detection pair (earlier i, later j): the distance of their centres over the earlier
%! % one's height and over the smaller height, and whether their sizes are within a factor 2.
%! closest = zeros(0, 3);
%! for i = 1:numel(found)
%!   for j = i + 1:numel(found)
%!     distance = hypot(found(i).row - found(j).row, found(i).col - found(j).col);
%!     heights = [found(i).height, found(j).height];
%!     closest(end + 1, :) = [distance / heights(1), distance / min(heights), max(heights) / min(heights) <= 2];
%!   end
%! end
%!endfunction

%!test
%! % A detection rules out the placements centred within exclusionRadius times its height at
%! % sizes within inhibitionReach of its own, and within that times the smaller height beyond;
%! % with inhibitionReach Inf every size is treated as its own. Sizes all within the reach
%! % give the same detections either way.
%! found = detect_faces(scene, t, filters, stamps, 'faceSizes', [24 60], 'detectionCount', 40, 'verbose', 0);
%! pairs = closest_later(found);
%! assert(all(pairs(:, 2) >= 0.75) && all(pairs(pairs(:, 3) == 1, 1) >= 0.75));
%! assert(any(pairs(:, 1) < 0.75));              % a small face near a large box is kept
%! found = detect_faces(scene, t, filters, stamps, 'faceSizes', [24 60], 'detectionCount', 40, ...
%!                      'inhibitionReach', Inf, 'verbose', 0);
%! assert(all(closest_later(found)(:, 1) >= 0.75));
%! near = {'faceSizes', [36 48 63], 'detectionCount', 10, 'verbose', 0};
%! assert(detect_faces(scene, t, filters, stamps, near{:}), ...
%!        detect_faces(scene, t, filters, stamps, near{:}, 'inhibitionReach', Inf));

%!test
%! % Fewer detections than asked come with the reason: no placement left, or the threshold.
%! [found, ~, report] = detect_faces(scene, t, filters, stamps, 'faceSizes', 120, ...
%!                                   'detectionCount', 1000, 'verbose', 0);
%! assert(numel(found) < 1000);
%! assert(report.stopReason, 'every placement left is ruled out by earlier detections');
%! [found, ~, report] = detect_faces(scene, t, filters, stamps, 'faceSizes', 40, ...
%!                                   'detectionCount', 5, 'scoreThreshold', Inf, 'verbose', 0);
%! assert(isempty(found));
%! assert(! isempty(strfind(report.stopReason, 'is below scoreThreshold Inf')));
%! [found, ~, report] = detect_faces(scene, t, filters, stamps, 'faceSizes', 40, ...
%!                                   'detectionCount', 2, 'verbose', 0);
%! assert(numel(found), 2);
%! assert(report.stopReason, '');

%!test
%! % Learning tells how many elements carry weight: asked for far more elements than a few
%! % flat-banded faces hold, most come back with weight 0 and the summary says so; verbose 0
%! % prints nothing, 1 a line per phase, 2 also quillon's line per element.
%! faces = zeros(30, 30, 4);
%! faces(14:17, :, :) = 1;
%! [f, s] = filter_bank();
%! tables = background_tables(rand(30, 30, 4), f);
%! quiet = evalc('template = learn_template(faces, f, s, tables, ''elementCount'', 60, ''verbose'', 0);');
%! assert(quiet, '');
%! assert(template.weightedCount, sum(template.weights ~= 0));
%! assert(template.weightedCount < 60);
%! printed = evalc('learn_template(faces, f, s, tables, ''elementCount'', 60);');
%! expected = sprintf('elements learned: %d of 60 asked; %d carried no weight', ...
%!                    template.weightedCount, 60 - template.weightedCount);
%! assert(! isempty(strfind(printed, expected)), printed);
%! assert(isempty(strfind(printed, '(orient = ')));
%! printed = evalc('learn_template(faces, f, s, tables, ''elementCount'', 3, ''verbose'', 2);');
%! assert(numel(strfind(printed, '(orient = ')), 3);

%!test
%! % The rank of each detection is written in yellow digits on black above its box's corner.
%! image = 0.5 * ones(60, 80);
%! box = struct('row', 35.5, 'col', 40.5, 'height', 20, 'width', 20, 'sketch', zeros(20, 'single'), ...
%!              'boxTop', 26, 'boxLeft', 31);
%! picture = draw_detections(image, [box, box]);
%! label = picture(26 - 14:25, 31:31 + 9, :);            % 7 x 5 glyph rows, zoomed twice
%! yellow = label(:, :, 1) == 1 & label(:, :, 2) == 0.9 & label(:, :, 3) == 0;
%! black = all(label == 0, 3);
%! assert(any(yellow(:)) && any(black(:)) && all(yellow(:) | black(:)));
%! % The digit 2 differs from the digit 1 where the second detection's label overwrote it.
%! alone = draw_detections(image, box);
%! assert(any(alone(:) ~= picture(:)));

%!test
%! % help orientplugins lists every public toolbox function and every plug-in, one line each.
%! overview = get_help_text('orientplugins');
%! files = dir(fullfile(fileparts(which('filter_bank')), '*.m'));
%! names = setdiff(regexprep({files.name}, '\.m$', ''), {'orientplugins'});
%! plugins = {'fennock', 'vindral', 'somvert', 'somvertwide', 'brelind', 'cobrint', 'quillon', ...
%!            'gastrel', 'gastrelblock', 'lurvane', 'lurvaneveto', 'tarrow', 'tarrowveto', ...
%!            'tarrowvetoblock', 'filtrum', 'cellum', 'scalum', 'crossum'};
%! for name = [names, plugins]
%!   assert(! isempty(regexp(overview, ['\n\s*' name{1} '\s+- \S'], 'once')), name{1});
%! end
