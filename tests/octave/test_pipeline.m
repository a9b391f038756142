% A small run of the whole pipeline on real data: a template learned from a few LFW faces
% finds a face in a crop of the Solvay 1927 photo, at one scale. The data are fetched into
% the repository's data cache (or found there); when they cannot be fetched the test says
% SKIPPED and passes.

%!shared dataDir, fetched
%! root = fileparts(fileparts(fileparts(which('run_suite'))));
%! dataDir = fullfile(root, 'data');
%! [status, output] = system(sprintf('"%s" "%s" 2>&1', fullfile(root, 'scripts', 'fetch-data.sh'), dataDir));
%! fetched = status == 0;
%! if ~fetched
%!   printf('SKIPPED: the pipeline test needs the Debian packages'' data, which could not be fetched:\n%s\n', output);
%! end

%!test
%! if ~fetched, return; end
%! params = struct('orientCount', 8, 'filterHalf', 5, 'wavelength', 5, 'templateSize', 32, ...
%!                 'poolStep', 2, 'posShiftMax', 1, 'orientShiftMax', 1, 'saturationLevel', 3, ...
%!                 'elementCount', 20, 'overlapThreshold', 0.1, 'normalizerHalf', 10, ...
%!                 'relativeFloor', 0.1, 'binCount', 60, 'lambdaStep', 0.01, 'lambdaMax', 10);
%! patches = permute(read_npy(fullfile(dataDir, 'lfw_subset.npy')), [2 3 1]);
%! assert(size(patches), [25 25 200]);
%! faces = patches(:, :, 1:30);
%! faces = cat(3, faces, flip(faces, 2));
%! [filters, stamps] = filter_bank(params.orientCount, params.filterHalf, params.wavelength);
%! tables = background_tables(patches(:, :, 101:130), filters, params);
%! printed = evalc('template = learn_template(faces, filters, stamps, tables, params, ''verbose'', 2);');
%! % quillon printed one line per element, and the first elements carry weight.
%! assert(numel(strfind(printed, '(orient = ')), params.elementCount);
%! assert(template.elementCount, params.elementCount);
%! assert(all(template.weights(1:5) > 0));
%! assert(all(template.orients >= 0 & template.orients < params.orientCount));
%! assert(max(template.commonSketch(:)) > 0);
%!
%! % A crop holding two faces of the photo, about 55 pixels high.
%! scene = read_image(fullfile(dataDir, '1280px-Solvay_conference_1927.png'));
%! top = 401; left = 401;
%! crop = scene(top:top + 179, left:left + 219);
%! boxes = read_reference_boxes(fullfile(dataDir, 'ground_truth_detection.txt'));
%! centres = boxes(:, 1:2) + (boxes(:, 3:4) - 1) / 2 - [top, left] + 1;
%! inside = all(centres >= 1 & centres <= size(crop), 2);
%! assert(sum(inside) >= 2);
%! [detections, sketch] = detect_faces(crop, template, filters, stamps, ...
%!                                     struct('faceSizes', 50, 'detectionCount', 3, 'scoreThreshold', -Inf, ...
%!                                            'exclusionRadius', 0, 'verbose', 0));
%! assert(numel(detections), 3);
%! matched = match_detections([[detections.row]', [detections.col]'], centres(inside, :), 25);
%! assert(matched(1));
%! % The found face is inhibited: the next detection lies elsewhere.
%! assert(hypot(detections(2).row - detections(1).row, detections(2).col - detections(1).col) > 25);
%! assert(size(sketch), size(crop));
%! assert(max(sketch(:)) > 0);
