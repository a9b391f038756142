% Reading labelled faces (text lines and XML boxes) and scoring detections among the first N.

%!function file = written(name, text)
%! file = fullfile(tempname(), name);
%! mkdir(fileparts(file));
%! fid = fopen(file, 'w');
%! fputs(fid, text);
%! fclose(fid);
%!endfunction

%!test
%! % Text labels: comments and blank lines skipped, faces gathered per photo in first order.
%! file = written('faces.txt', sprintf(['# photo row col height\n\nb.jpg 10 20 30   # one\r\n' ...
%!                                      'a.png 5.5 6 7\nb.jpg 40 50 60\n']));
%! photos = read_face_labels(file);
%! assert({photos.photo}, {'b.jpg', 'a.png'});
%! assert(photos(1).centres, [10 20; 40 50]);
%! assert(photos(1).heights, [30; 60]);
%! assert(photos(2).centres, [5.5 6]);
%! assert(photos(2).heights, 7);

%!test
%! % XML boxes in pixels from 0: the centre is the box's, counted from 1; the height the box's.
%! file = written('boxes.xml', sprintf(['<dataset><images>\n' ...
%!   '  <image file=''p.jpg'' width=''500''>\n' ...
%!   '    <box top=''90'' left=''194'' width=''37'' height=''37''/>\n' ...
%!   '    <box height="44" width="45" left="381" top="89"/>\n' ...
%!   '  </image>\n  <image file=''empty.jpg''/>\n' ...
%!   '  <image file=''q.jpg''><box top=''0'' left=''0'' width=''10'' height=''20''/></image>\n' ...
%!   '</images></dataset>\n']));
%! photos = read_face_labels(file);
%! assert({photos.photo}, {'p.jpg', 'empty.jpg', 'q.jpg'});
%! assert(photos(1).centres, [109 213; 111.5 404]);
%! assert(photos(1).heights, [37; 44]);
%! assert(size(photos(2).centres), [0 2]);
%! assert(photos(3).centres, [10.5 5.5]);
%! assert(photos(3).heights, 20);

%!test
%! % Lines and boxes that cannot be read are refused, naming the file's line.
%! file = written('faces.txt', sprintf('a.png 1 2 3\na.png 1 2\n'));
%! try
%!   read_face_labels(file);
%!   error('not refused');
%! catch failure
%!   assert(failure.identifier, 'read_face_labels:badLabel');
%!   assert(! isempty(strfind(failure.message, 'line 2: expected "photo row col height"')));
%! end
%! file = written('boxes.xml', sprintf('<image file=''p.jpg''>\n\n<box top=''1'' left=''2'' width=''3''/>\n</image>'));
%! try
%!   read_face_labels(file);
%!   error('not refused');
%! catch failure
%!   assert(failure.identifier, 'read_face_labels:badLabel');
%!   assert(! isempty(strfind(failure.message, 'line 3: expected a box')));
%! end

%!error id=read_face_labels:badLabel read_face_labels(written('f.txt', 'a.png 1 2 0'))
%!error id=read_face_labels:badLabel read_face_labels(written('f.txt', 'a.png 1 x 3'))
%!error id=read_face_labels:badLabel read_face_labels(written('f.xml', '<image width=''3''><box top=''1'' left=''1'' width=''1'' height=''1''/></image>'))
%!error id=read_face_labels:cannotRead read_face_labels(fullfile(tempname(), 'missing.txt'))

%!test
%! % Only the first N detections count, N the number of faces; each face is found once.
%! faces = [10 10; 50 50; 90 90];
%! detections = [11 11; 12 12; 52 50; 90 91];          % the last one is detection 4 of 3
%! [found, precision, recall, matched] = score_detections(detections, faces, 5);
%! assert([found, precision, recall], [2, 2 / 3, 2 / 3], eps);
%! assert(matched', [true false true]);

%!test
%! % One radius per face: half of each face's height.
%! faces = [10 10; 50 50];
%! [found, ~, ~, matched] = score_detections([10 22; 50 62], faces, [30; 20] / 2);
%! assert(found, 1);
%! assert(matched', [true false]);

%!test
%! % Fewer detections than faces: precision over the detections made; none: NaN.
%! [found, precision, recall] = score_detections([10 10], [10 10; 50 50], 5);
%! assert([found, precision, recall], [1, 1, 0.5]);
%! [found, precision, recall] = score_detections(zeros(0, 2), [10 10; 50 50], 5);
%! assert(found, 0);
%! assert(isnan(precision));
%! assert(recall, 0);
