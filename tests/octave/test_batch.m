% Batches of photos (detect_folder, detect_share, batch_index, list_photos) with a small
% template saved to a file: each photo's CSV holds detect_faces' detections and the photo's
% size; photos that cannot be read, are too small or too costly are recorded as failed with
% their reason; reruns skip complete results and redo those older than their photo or the
% template; other settings or photos are refused; the lock refuses a live batch and takes
% over a dead one's; the index is rebuilt from the parts, or from the CSVs when parts are
% lost. The CSV helpers keep commas and quotes in photo names.

%!shared template, filters, stamps, templateFile, scene, search, photoDir
%! [filters, stamps] = filter_bank('orientCount', 4);
%! rand('seed', 3); randn('seed', 3);
%! faces = zeros(30, 30, 8);
%! faces(10:14, 6:24, :) = 1;
%! faces = faces + 0.05 * rand(size(faces));
%! tables = background_tables(rand(30, 30, 8), filters, 'orientCount', 4);
%! template = learn_template(faces, filters, stamps, tables, 'orientCount', 4, ...
%!                           'elementCount', 6, 'verbose', 0);
%! templateFile = [tempname() '.mat'];
%! save_template(templateFile, template, filters, stamps);
%! scene = conv2(randn(130, 150), ones(5) / 25, 'same');
%! scene = (scene - min(scene(:))) / (max(scene(:)) - min(scene(:)));
%! scene(40:44, 30:60) = 1;
%! search = {'templateFile', templateFile, 'faceSizes', [40 52], 'detectionCount', 3, ...
%!           'memoryLimit', 0.05, 'jobs', 1, 'verbose', 0};
%! photoDir = tempname(); mkdir(photoDir); mkdir(fullfile(photoDir, 'sub'));
%! imwrite(scene, fullfile(photoDir, 'a.png'));
%! imwrite(uint8(255 * scene(1:120, :)), fullfile(photoDir, 'sub', 'b.jpg'), 'Quality', 95);
%! imwrite(scene(:, 1:140), fullfile(photoDir, 'c, "d".png'));
%! imwrite(zeros(5), fullfile(photoDir, 'tiny.png'));
%! imwrite(zeros(1500, 1500, 'uint8'), fullfile(photoDir, 'huge.png'));
%! fclose(fopen(fullfile(photoDir, 'empty.png'), 'w'));
%! fid = fopen(fullfile(photoDir, 'text.jpg'), 'w'); fprintf(fid, 'no image'); fclose(fid);
%! fid = fopen(fullfile(photoDir, 'notes.txt'), 'w'); fprintf(fid, 'not a photo'); fclose(fid);

%!function rows = csv_rows(file)
%!  % The data lines of a CSV file.
%!  lines = strsplit(strtrim(fileread(file)), "\n");
%!  rows = lines(2:end);
%!endfunction

%!function record = record_of(records, photo)
%!  record = records(strcmp({records.photo}, photo));
%!endfunction

%!function remove_folder(folder)
%!  confirm_recursive_rmdir(false, 'local');
%!  if exist(folder, 'dir')
%!    rmdir(folder, 's');
%!  end
%!endfunction

%!test
%! % list_photos: PNG and JPEG files in any case, subfolders only when recursive, sorted.
%! assert(list_photos(photoDir), {'a.png', 'c, "d".png', 'empty.png', 'huge.png', 'text.jpg', 'tiny.png'});
%! assert(list_photos(photoDir, true), {'a.png', 'c, "d".png', 'empty.png', 'huge.png', 'sub/b.jpg', ...
%!                                      'text.jpg', 'tiny.png'});
%!error id=list_photos:noFolder list_photos(fullfile(tempdir, 'no-such-folder'))

%!test
%! % A whole batch: every photo's CSV holds what detect_faces finds in it, with the photo's
%! % size; the failures are recorded with their reasons; the index has a row per photo.
%! out = tempname();
%! unwind_protect
%!   summary = detect_folder(photoDir, out, search{:}, 'recursive', 1);
%!   assert([summary.total, summary.done, summary.skipped, summary.failed, summary.pending], [7 3 0 4 0]);
%!   found = detect_faces(read_image(fullfile(photoDir, 'a.png')), template, filters, stamps, 'faceSizes', [40 52], ...
%!                        'detectionCount', 3, 'verbose', 0);
%!   expected = arrayfun(@(d) sprintf('%.1f,%.1f,%.1f,%.1f,%.4f,130,150', d.row, d.col, d.height, ...
%!                                    d.width, d.score), found, 'UniformOutput', false);
%!   assert(csv_rows(fullfile(out, 'detections', 'a.png.csv')), expected);
%!   assert(strncmp(fileread(fullfile(out, 'detections', 'a.png.csv')), ...
%!                  'row,col,height,width,score,photoRows,photoCols', 45));
%!   assert(exist(fullfile(out, 'detections', 'sub', 'b.jpg.csv'), 'file'), 2);
%!   records = batch_index(out);
%!   assert({records.photo}, {'a.png', 'c, "d".png', 'empty.png', 'huge.png', 'sub/b.jpg', 'text.jpg', 'tiny.png'}(:)' );
%! unwind_protect_cleanup
%!   remove_folder(out);
%! end_unwind_protect

%!test
%! % Failures and their reasons; the index file reads back as the records.
%! out = tempname();
%! unwind_protect
%!   summary = detect_folder(photoDir, out, search{:});
%!   records = summary.records;
%!   a = record_of(records, 'a.png');
%!   assert({a.status, a.rows, a.cols, a.faces}, {'done', 130, 150, 3});
%!   assert(isempty(a.message));
%!   reasons = {'empty.png', 'is not a readable PNG or JPEG image';
%!              'text.jpg', 'is not a readable PNG or JPEG image';
%!              'tiny.png', 'the 5 x 5 image holds no face';
%!              'huge.png', 'beyond memoryLimit 0.05 GB'};
%!   for k = 1:rows(reasons)
%!     r = record_of(records, reasons{k, 1});
%!     assert(r.status, 'failed');
%!     assert(! isempty(strfind(r.message, reasons{k, 2})), r.message);
%!     assert(! exist(fullfile(out, 'detections', [reasons{k, 1} '.csv']), 'file'));
%!   end
%!   assert(record_of(records, 'huge.png').rows, 1500);
%!   lines = strsplit(strtrim(fileread(fullfile(out, 'index.csv'))), "\n");
%!   assert(lines{1}, 'photo,rows,cols,faces,bestScore,seconds,status,message,finished');
%!   assert(numel(lines), 7);
%!   assert(! isempty(regexp(lines{3}, '^"c, ""d"".png",130,140,\d+,[-0-9.]*,[0-9.]+,done,"",', 'once')));
%!   log = fileread(fullfile(out, 'batch.log'));
%!   assert(numel(regexp(log, '\d (done  |failed) ', 'match')), 6);
%!   assert(! isempty(regexp(log, 'end    6 photos in .*: 2 done, 0 skipped as already done, 4 failed, 0 not done', 'once')));
%! unwind_protect_cleanup
%!   remove_folder(out);
%! end_unwind_protect

%!test
%! % Reruns: complete results are skipped; a result older than its photo, or than the
%! % template, is searched again; the failed photos are tried again.
%! out = tempname();
%! photos = tempname(); mkdir(photos);
%! unwind_protect
%!   copyfile(fullfile(photoDir, 'a.png'), photos);
%!   imwrite(scene(:, 1:140), fullfile(photos, 'c.png'));
%!   copyfile(fullfile(photoDir, 'text.jpg'), photos);
%!   first = detect_folder(photos, out, search{:});
%!   assert([first.done, first.skipped, first.failed], [2 0 1]);
%!   again = detect_folder(photos, out, search{:});
%!   assert([again.done, again.skipped, again.failed], [0 2 1]);
%!   pause(1.1);                                  % file times may count whole seconds
%!   imwrite(scene(:, 1:140), fullfile(photos, 'c.png'));
%!   touched = detect_folder(photos, out, search{:});
%!   assert([touched.done, touched.skipped, touched.failed], [1 1 1]);
%!   pause(1.1);
%!   save_template(templateFile, template, filters, stamps);
%!   relearned = detect_folder(photos, out, search{:});
%!   assert([relearned.done, relearned.skipped], [2 0]);
%! unwind_protect_cleanup
%!   remove_folder(out);
%!   remove_folder(photos);
%! end_unwind_protect

%!test
%! % Pictures on request; the output folder inside the photo folder is never searched.
%! photos = tempname(); mkdir(photos);
%! out = fullfile(photos, 'results');
%! unwind_protect
%!   copyfile(fullfile(photoDir, 'a.png'), photos);
%!   summary = detect_folder(photos, out, search{:}, 'recursive', 1, 'pictures', 1);
%!   assert([summary.total, summary.done], [1 1]);
%!   picture = imread(fullfile(out, 'pictures', 'a.png.png'));
%!   assert(size(picture), [130 150 3]);
%!   again = detect_folder(photos, out, search{:}, 'recursive', 1, 'pictures', 1);
%!   assert([again.total, again.skipped], [1 1]);
%!   delete(fullfile(out, 'pictures', 'a.png.png'));
%!   redrawn = detect_folder(photos, out, search{:}, 'recursive', 1, 'pictures', 1);
%!   assert(redrawn.done, 1);
%! unwind_protect_cleanup
%!   remove_folder(photos);
%! end_unwind_protect

%!test
%! % Another folder of photos, or other detection settings, in the same output folder are
%! % refused; the lock of a running batch is refused, a dead one's taken over.
%! photos = tempname(); mkdir(photos);
%! out = tempname();
%! unwind_protect
%!   copyfile(fullfile(photoDir, 'a.png'), photos);
%!   detect_folder(photos, out, search{:});
%!   try
%!     detect_folder(photos, out, search{:}, 'detectionCount', 2);
%!     error('test:notRefused', 'other settings accepted');
%!   catch failure
%!     assert(failure.identifier, 'detect_folder:otherBatch');
%!     assert(! isempty(strfind(failure.message, 'searched with detectionCount 3, not 2')), failure.message);
%!   end
%!   try
%!     detect_folder(photoDir, out, search{:});
%!     error('test:notRefused', 'other photos accepted');
%!   catch failure
%!     assert(failure.identifier, 'detect_folder:otherBatch');
%!   end
%!   [~, host] = system('hostname');
%!   lockFile = fullfile(out, 'batch.lock');
%!   fid = fopen(lockFile, 'w'); fprintf(fid, '%d %s 2026-01-01 10:00:00.000\n', getppid(), strtrim(host)); fclose(fid);
%!   try
%!     detect_folder(photos, out, search{:});
%!     error('test:notRefused', 'a live lock was ignored');
%!   catch failure
%!     assert(failure.identifier, 'detect_folder:busy');
%!     assert(! isempty(strfind(failure.message, sprintf('names process %d on %s', getppid(), strtrim(host)))), ...
%!            failure.message);
%!   end
%!   [~, dead] = system('sh -c ''echo $$''');
%!   fid = fopen(lockFile, 'w'); fprintf(fid, '%s %s 2026-01-01 10:00:00.000\n', strtrim(dead), strtrim(host)); fclose(fid);
%!   printed = evalc('summary = detect_folder(photos, out, search{:});');
%!   assert(! isempty(strfind(printed, sprintf('taking over %s, left by process %s', lockFile, strtrim(dead)))));
%!   assert(summary.skipped, 1);
%!   assert(! exist(lockFile, 'file'));
%!   fid = fopen(lockFile, 'w'); fprintf(fid, '1 some-other-host 2026-01-01 10:00:00.000\n'); fclose(fid);
%!   try
%!     detect_folder(photos, out, search{:});
%!     error('test:notRefused', 'a lock of another host was ignored');
%!   catch failure
%!     assert(! isempty(strfind(failure.message, sprintf('if that batch has ended, delete %s', lockFile))));
%!   end
%! unwind_protect_cleanup
%!   remove_folder(photos);
%!   remove_folder(out);
%! end_unwind_protect

%!test
%! % Shares deal the list out in turn; the index merges the parts, marks photos without an
%! % outcome pending, and rebuilds a lost part's done photos from their CSVs.
%! out = tempname();
%! unwind_protect
%!   summary = detect_folder(photoDir, out, search{:}, 'recursive', 1);
%!   list = strsplit(strtrim(fileread(fullfile(out, 'photos.txt'))), "\n");
%!   assert(numel(list), 7);
%!   delete(fullfile(out, 'parts', '*.csv'));
%!   delete(fullfile(out, 'detections', 'a.png.csv'));
%!   counts = detect_share(out, 2, 3);
%!   assert([counts.total, counts.processed], [2 0]);        % photos 2 and 5: c, "d" and sub/b
%!   counts = detect_share(out, 1, 3);
%!   assert([counts.total, counts.skipped, counts.processed, counts.failed], [3 0 3 2]);
%!   records = batch_index(out);
%!   assert({records.status}, {'done', 'done', 'pending', 'failed', 'done', 'pending', 'failed'});
%!   assert(records(1).seconds > 0);
%!   b = record_of(records, 'sub/b.jpg');                    % from its CSV: no seconds
%!   assert([b.rows, b.cols, b.faces], [120 150 3]);
%!   assert(isnan(b.seconds));
%!   assert(! isempty(strfind(fileread(fullfile(out, 'parts', 'share-1-of-3.csv')), 'a.png')));
%! unwind_protect_cleanup
%!   remove_folder(out);
%! end_unwind_protect

%!error id=detect_share:noBatch detect_share(tempname(), 1, 1)
%!error id=detect_share:badArgument detect_share(tempname(), 3, 2)
%!error id=detect_share:unknownOption detect_share(tempname(), 1, 1, 'logfile', 'x')
%!error id=batch_index:noBatch batch_index(tempname())
%!error id=detect_folder:noFolder detect_folder(fullfile(tempdir, 'no-such-photos'), tempname())
%!error id=detect_folder:badOption detect_folder(tempdir, tempname(), 'runner', 'pbs')
%!error id=detect_folder:badOption detect_folder(tempdir, tempname(), 'runner', 'slurm')
%!error id=detect_folder:unknownOption detect_folder(tempdir, tempname(), 'job', 2)
%!error id=detect_folder:badOption detect_folder(tempdir, tempname(), 'pictures', 2)
%!error <cannot make the output folder> detect_folder(tempdir, fullfile(templateFile, 'x'))

%!test
%! % The CSV helpers: quoting doubles quotes and keeps commas; line breaks become spaces;
%! % a line cut short is no record.
%! record = struct('photo', 'x, "y".png', 'rows', 5, 'cols', 6, 'faces', NaN, 'bestScore', NaN, ...
%!                 'seconds', 0.25, 'status', 'failed', 'message', sprintf('bad, "very"\nbad'), ...
%!                 'finished', '2026-12-09 10:11:12.345');
%! line = call_private('index_line', record);
%! assert(line, '"x, ""y"".png",5,6,,,0.250,failed,"bad, ""very"" bad","2026-12-09 10:11:12.345"');
%! back = call_private('parse_index_line', line);
%! record.message = 'bad, "very" bad';
%! assert(back, record);
%! assert(isempty(call_private('parse_index_line', line(1:end - 10))));
%! assert(isempty(call_private('parse_index_line', 'photo,rows,cols,faces,bestScore,seconds,status,message,finished')));
%! assert(call_private('split_csv_line', 'a,,"b,c"'), {'a', '', 'b,c'});
