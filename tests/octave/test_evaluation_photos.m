% The photos make evaluate scores, from labels written into a folder of its own: the
% development photos with a radius of half each face's height, and both Solvay scans with the
% reference faces (box 0 left out), mapped onto the other scan.

%!function fputs_to(file, text)
%! fid = fopen(file, 'w');
%! fputs(fid, text);
%! fclose(fid);
%!endfunction

%!shared dataDir, labelsFile
%! root = fileparts(fileparts(fileparts(which('run_suite'))));
%! addpath(fullfile(root, 'scripts', 'evaluation'));
%! dataDir = tempname();
%! mkdir(dataDir);
%! put = @(name, text) fputs_to(fullfile(dataDir, name), text);
%! put('training.xml', sprintf(['<images><image file=''p.jpg''>\n' ...
%!     '<box top=''9'' left=''19'' width=''30'' height=''30''/>\n' ...
%!     '<box top=''99'' left=''49'' width=''40'' height=''40''/></image></images>\n']));
%! put('faces.txt', sprintf('q.png 50 60 90\n'));
%! % Box 0 is wall; boxes 1 and 2 are faces 41 and 57 pixels high.
%! put('ground_truth_detection.txt', sprintf(['detection_0\n0 0\n0 9\n9 0\n9 9\n' ...
%!     'detection_1\n100 200\n100 240\n140 200\n140 240\n' ...
%!     'detection_2\n300 500\n300 556\n356 500\n356 556\n']));
%! labelsFile = fullfile(dataDir, 'faces.txt');

%!test
%! photos = evaluation_photos(dataDir, labelsFile);
%! assert({photos.name}, {'p.jpg', 'q.png', '1280px-Solvay_conference_1927.png', ...
%!                        'Solvay_conference_1927_Version2_1024x705.jpg'});
%! assert({photos.group}, {'development', 'development', 'Solvay', 'Solvay'});
%! assert({photos.source}, {'training.xml', 'faces.txt', 'ground_truth_detection.txt', ...
%!                          'ground_truth_detection.txt'});
%! assert(photos(1).file, fullfile(dataDir, 'p.jpg'));
%! assert(photos(1).centres, [24.5 34.5; 119.5 69.5]);
%! assert(photos(1).radius, [15; 20]);
%! assert(photos(1).faceRange, [30 40]);
%! assert(photos(2).radius, 45);
%! assert(photos(2).faceRange, [90 90]);

%!test
%! % The demo's photo is scored as the demo scores it; the other scan's centres are the
%! % reference centres times 0.76, moved 1 row and 44 columns.
%! photos = evaluation_photos(dataDir, labelsFile);
%! [main, scan] = deal(photos(3), photos(4));
%! assert(main.centres, [121 221; 329 529]);
%! assert(main.radius, 25);
%! assert(main.faceRange, [41 57]);
%! assert(scan.centres, [121 221; 329 529] * 0.76 + [1 44], 1e-12);
%! assert(scan.radius, 19);
%! assert(scan.faceRange, [41 57] * 0.76, 1e-12);
