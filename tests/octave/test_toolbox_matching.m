% Matching detections to reference centres: in the order found, nearest free reference first.

%!test
%! references = [10 10; 50 50; 90 90];
%! centres = [12 10; 11 11; 52 49; 200 200; 90 100];
%! [matched, reference] = match_detections(centres, references, 10);
%! % The second detection is nearest to the first reference too, but that one is taken and the
%! % next nearest is too far; the distance 10 of the last is still a match.
%! assert(matched', logical([1 0 1 0 1]));
%! assert(reference', [1 0 2 0 3]);

%!test
%! % Nearest first: a detection between two references takes the nearer one.
%! [matched, reference] = match_detections([30 30; 26 26], [20 20; 28 28], 20);
%! assert(reference', [2 1]);
%! assert(all(matched));

%!test
%! % A detection too far from everything takes nothing, so a later one can still match.
%! [matched, reference] = match_detections([0 40; 0 5], [0 0], 8);
%! assert(matched', [false true]);
%! assert(reference', [0 1]);

%!test
%! % No references, or no detections.
%! assert(match_detections([1 1; 2 2], zeros(0, 2), 5), [false; false]);
%! assert(size(match_detections(zeros(0, 2), [1 1], 5)), [0 1]);

%!test
%! % One radius per reference: the same distance matches a large face and not a small one.
%! references = [0 0; 100 0];
%! [matched, reference] = match_detections([0 12; 100 12], references, [15 10]);
%! assert(matched', [true false]);
%! assert(reference', [1 0]);
%! % The nearest free reference is taken even when a farther one has a larger radius.
%! [matched, reference] = match_detections([0 8], [0 0; 0 30], [5 40]);
%! assert(matched, false);
%! assert(reference, 0);

%!error <one distance or one per reference \(3\); got 2 values> match_detections([1 1], [1 1; 2 2; 3 3], [4 5])
%!error id=match_detections:badRadius match_detections([1 1], zeros(0, 2), [4 5])
