% A learned template saved to a MAT file and loaded back: the same template, filters and
% stamps, detections bit-identical to those of the template in memory, refusals of files
% that are missing, not MAT files, not templates or of a newer format; face_template loads
% the file only when it was learned with the same settings and data, and learns otherwise.

%!shared template, filters, stamps, scene, folder
%! folder = tempname(); mkdir(folder);
%! [filters, stamps] = filter_bank('orientCount', 4);
%! rand('seed', 3); randn('seed', 3);
%! faces = zeros(30, 30, 8);
%! faces(10:14, 6:24, :) = 1;                          % a bright bar and a dark gap
%! faces = faces + 0.05 * rand(size(faces));
%! tables = background_tables(rand(30, 30, 8), filters, 'orientCount', 4);
%! template = learn_template(faces, filters, stamps, tables, 'orientCount', 4, ...
%!                           'elementCount', 6, 'verbose', 0);
%! scene = conv2(randn(130, 150), ones(5) / 25, 'same');
%! scene(40:44, 30:60) = 2;

%!test
%! % Saved and loaded: the same values and classes, a v7 MAT file, no temporary file left,
%! % and the same detections, sketch and report, bit for bit.
%! file = fullfile(folder, 'round.mat');
%! training = struct('file', 'x.npy', 'faceCount', 8);
%! save_template(file, template, filters, stamps, training);
%! assert({dir(fullfile(folder, 'round.mat*')).name}, {'round.mat'});
%! fid = fopen(file, 'r'); head = fread(fid, 19, 'char=>char')'; fclose(fid);
%! assert(head, 'MATLAB 5.0 MAT-file');
%! [t2, f2, s2, training2] = load_template(file);
%! assert(isequal(t2, template) && isequal(f2, filters) && isequal(s2, stamps));
%! assert(training2, training);
%! assert(class(t2.commonSketch), 'single');
%! search = {'faceSizes', [40 52], 'detectionCount', 4, 'verbose', 0};
%! [found, sketch, report] = detect_faces(scene, template, filters, stamps, search{:});
%! [found2, sketch2, report2] = detect_faces(scene, t2, f2, s2, search{:});
%! assert(numel(found), 4);
%! assert(isequaln(found, found2) && isequal(sketch, sketch2) && isequal(report, report2));
%! [~, ~, ~, none] = load_template(fullfile(folder, 'round.mat'));
%! save_template(file, template, filters, stamps);
%! [~, ~, ~, none] = load_template(file);
%! assert(none, struct());

%!error id=load_template:cannotRead load_template(fullfile(tempdir, 'no-such-template.mat'))
%!error <load_template: .*plain.mat is not a readable MAT file>
%! file = [tempname() 'plain.mat'];
%! fid = fopen(file, 'w'); fprintf(fid, 'not a MAT file'); fclose(fid);
%! unwind_protect
%!   load_template(file);
%! unwind_protect_cleanup
%!   delete(file);
%! end_unwind_protect
%!error <holds no template saved by save_template>
%! file = [tempname() '.mat'];
%! x = 1;
%! save('-v7', file, 'x');
%! unwind_protect
%!   load_template(file);
%! unwind_protect_cleanup
%!   delete(file);
%! end_unwind_protect
%!error <saved in a newer format than 1, the newest this toolbox reads>
%! file = [tempname() '.mat'];
%! fileKind = 'orientplugins face template'; formatVersion = 2;
%! save('-v7', file, 'fileKind', 'formatVersion');
%! unwind_protect
%!   load_template(file);
%! unwind_protect_cleanup
%!   delete(file);
%! end_unwind_protect
%!error id=save_template:badTemplate save_template([tempname() '.mat'], struct('weights', 1), filters, stamps)
%!error id=save_template:filterMismatch save_template([tempname() '.mat'], template, filter_bank(), stamps)
%!error id=save_template:tooFewArguments save_template([tempname() '.mat'], template, filters)
%!error <save_template: cannot write .*no-such-folder.*t.mat>
%! save_template(fullfile(tempname(), 'no-such-folder', 't.mat'), template, filters, stamps);

%!test
%! % face_template learns and saves, then loads while the settings and data match; other
%! % learning settings or other data make it learn again; without data it loads a matching
%! % file and refuses otherwise.
%! dataDir = fullfile(folder, 'data'); mkdir(dataDir);
%! rand('seed', 5);
%! patches = rand(200, 25, 25);
%! patches(1:100, 9:12, 5:20) = 1;
%! write_npy(fullfile(dataDir, 'lfw_subset.npy'), patches);
%! file = fullfile(folder, 'face.mat');
%! small = {'dataDir', dataDir, 'orientCount', 4, 'elementCount', 3, 'rerank', 0, 'verbose', 0};
%! [t1, f1, s1, learned] = face_template(file, small{:});
%! assert(learned);
%! assert(t1.params.elementCount, 3);
%! [t2, f2, s2, learned] = face_template(file, small{:});
%! assert(! learned);
%! assert(isequal(t2, t1) && isequal(f2, f1) && isequal(s2, s1));
%! printed = evalc('[~, ~, ~, learned] = face_template(file, small{:}, ''verbose'', 1);');
%! assert(! learned);
%! assert(strtrim(printed), ['face_template: loaded the template from ' file]);
%! [t3, ~, ~, learned] = face_template(file, small{:}, 'elementCount', 4);
%! assert(learned && t3.params.elementCount == 4);
%! [~, ~, ~, learned] = face_template(file, small{:});
%! assert(learned);
%! patches(150, 1, 1) = 0.5;                      % one value of a non-face patch changed
%! write_npy(fullfile(dataDir, 'lfw_subset.npy'), patches);
%! [~, ~, ~, learned] = face_template(file, small{:});
%! assert(learned);
%! delete(fullfile(dataDir, 'lfw_subset.npy'));
%! [~, ~, ~, learned] = face_template(file, small{:});
%! assert(! learned);
%! try
%!   face_template(file, small{:}, 'elementCount', 5);
%!   error('test:notRefused', 'learned without data');
%! catch failure
%!   assert(failure.identifier, 'face_template:noData');
%! end

%!test
%! % With rerank 1 the template carries its re-ranking model, learned against the face-free
%! % photos (here random ones, under the names the data cache gives them) and saved with it;
%! % it is loaded while the ranking settings match, learned again (the template kept) when
%! % one differs; a missing face-free photo is refused before anything is learned.
%! dataDir = fullfile(folder, 'ranked'); mkdir(dataDir);
%! rand('seed', 6);
%! patches = rand(200, 25, 25);
%! patches(1:100, 9:12, 5:20) = 1;
%! write_npy(fullfile(dataDir, 'lfw_subset.npy'), patches);
%! names = {'brick.png', 'grass.png', 'gravel.png', 'coffee.png', 'chelsea.png', ...
%!          'motorcycle_left.png', 'rocket.jpg', 'text.png', 'page.png', 'image_0000.pgm', 'image0000.pgm'};
%! for k = 1:numel(names) - 1
%!   imwrite(uint8(255 * rand(60, 80)), fullfile(dataDir, names{k}));
%! end
%! file = fullfile(folder, 'ranked.mat');
%! quick = {'dataDir', dataDir, 'orientCount', 4, 'elementCount', 3, 'minedSizes', 2, ...
%!          'minedPerPhoto', 3, 'randomPerPhoto', 2, 'bootstrapCandidates', 4, ...
%!          'jitterShifts', 0, 'jitterScales', 1, 'verbose', 0};
%! try
%!   face_template(file, quick{:});
%!   error('test:notRefused', 'learned without every face-free photo');
%! catch failure
%!   assert(failure.identifier, 'face_template:noData');
%!   assert(! exist(file, 'file'));
%! end
%! imwrite(uint8(255 * rand(60, 80)), fullfile(dataDir, names{end}));
%! [t1, ~, ~, learned] = face_template(file, quick{:});
%! assert(learned && isfield(t1, 'ranker'));
%! assert(t1.ranker.params.minedPerPhoto, 3);
%! [t2, ~, ~, learned] = face_template(file, quick{:});
%! assert(! learned && isequal(t2, t1));
%! [t3, ~, ~, learned] = face_template(file, quick{:}, 'minedPerPhoto', 2);
%! assert(learned && t3.ranker.params.minedPerPhoto == 2);
%! assert(isequal(rmfield(t3, 'ranker'), rmfield(t1, 'ranker')));
%! [t4, ~, ~, learned] = face_template(file, quick{:}, 'minedPerPhoto', 2, 'rerank', 0);
%! assert(! learned && isequal(t4, t3));

%!error id=face_template:unknownOption face_template([tempname() '.mat'], 'dataDir', tempdir, 'elementcount', 3)
%!error id=face_template:badOption face_template([tempname() '.mat'], 'dataDir', 3)
%!error id=face_template:badArgument face_template(3)
