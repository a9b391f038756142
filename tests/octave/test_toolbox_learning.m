% Learning-side toolbox functions: patch normalization, the background density and tables,
% and a template learned from synthetic images that all share one bar.

%!shared p, filters, stamps
%! p = struct('orientCount', 4, 'filterHalf', 3, 'wavelength', 4, 'templateSize', 24, ...
%!            'poolStep', 2, 'posShiftMax', 1, 'orientShiftMax', 1, 'saturationLevel', 3, ...
%!            'elementCount', 3, 'overlapThreshold', 0.1, 'normalizerHalf', 8, ...
%!            'relativeFloor', 0.1, 'binCount', 30, 'lambdaStep', 0.05, 'lambdaMax', 5);
%! [filters, stamps] = filter_bank(p.orientCount, p.filterHalf, p.wavelength);

%!test
%! % Each patch is divided by its normalizer at the template centre, pixel (12, 12) here.
%! rand('seed', 1);
%! patches = rand(24, 24, 2);
%! normalized = call_private('patch_responses', patches, filters, p);
%! assert(size(normalized), [2 4]);
%! raw = filter_responses(patches(:, :, 2), filters);
%! centreMean = 0;
%! for o = 1:4
%!   window = raw{o}(12 + (-8:8), 12 + (-8:8));
%!   centreMean = centreMean + sum(double(window(:)));
%! end
%! centreMean = centreMean / (4 * 17^2);
%! assert(double(normalized{2, 3}), double(raw{3}) / centreMean, 1e-4 * max(double(raw{3}(:))) / centreMean);

%!test
%! % The background density is a density over [0, s), and the tables start at its mean.
%! rand('seed', 2);
%! tables = background_tables(rand(20, 20, 6), filters, p);
%! assert(numel(tables.density), p.binCount);
%! assert(sum(tables.density) * tables.binWidth, 1, 1e-9);
%! assert(tables.binWidth, p.saturationLevel / p.binCount);
%! centres = ((0:p.binCount - 1) + 0.5) * tables.binWidth;
%! assert(tables.meanResponse(1), sum(centres .* tables.density) * tables.binWidth, 1e-9);
%! assert(tables.length, numel(0:p.lambdaStep:p.lambdaMax));
%! assert(tables.bias(1), 0, 1e-9);

%!test
%! % Every training image holds a horizontal edge through the middle, moved by up to one
%! % pixel: the first element learned is that edge (orientation 0) near the middle row. No
%! % orientation shifts here, or the neighbouring orientations would pool the same response.
%! rand('seed', 4);
%! p.orientShiftMax = 0;
%! count = 12;
%! faces = zeros(24, 24, count);
%! for k = 1:count
%!   edgeRow = 12 + mod(k, 3) - 1;
%!   faces(:, :, k) = 0.1 * rand(24, 24);
%!   faces(edgeRow:end, :, k) = faces(edgeRow:end, :, k) + 1;
%! end
%! tables = background_tables(rand(24, 24, 6), filters, p);
%! printed = evalc('template = learn_template(faces, filters, stamps, tables, p, ''verbose'', 2);');
%! assert(numel(strfind(printed, '(orient = ')), p.elementCount);
%! assert(template.orients(1), 0);
%! assert(abs(template.rowOffsets(1) * p.poolStep - 12) <= 2);
%! assert(template.weights(1) > 0);
%! assert([template.templateRows, template.templateCols], [24 24]);
%! assert(numel(template.imageSketches), count);
%! for name = fieldnames(p)'
%!   assert(template.params.(name{1}), p.(name{1}));
%! end
%! % The common sketch shows a horizontal line at the element: brightest along the row.
%! [~, brightestRow] = max(sum(template.commonSketch, 2));
%! assert(brightestRow, template.rowOffsets(1) * p.poolStep);

%!test
%! % fresh_maps gives cells with data of their own: a plug-in writing them all accepts them.
%! maps = fresh_maps([5 4; 3 2], 2);
%! assert(size(maps), [2 2]);
%! assert(size(maps{2, 1}), [3 2]);
%! assert(class(maps{1, 2}), 'single');
%! fennock(2, [5 3], [4 2], 2, 1, maps);
%! assert(all(cellfun(@(m) all(m(:) == 0), maps)));

%!test
%! % Drawing: boxes are outlined in their colours, the sketch drawn over the image in red.
%! image = 0.5 * ones(30, 40);
%! detection = struct('row', 20.5, 'col', 20.5, 'height', 10, 'width', 10, ...
%!                    'sketch', single([zeros(4, 10); ones(2, 10); zeros(4, 10)]), ...
%!                    'boxTop', 16, 'boxLeft', 16);
%! picture = draw_detections(image, detection, [20 2 5 6]);
%! assert(size(picture), [30 40 3]);
%! assert(squeeze(picture(16, 18, :))', [1 0.9 0]);       % detection box, top edge
%! assert(squeeze(picture(22, 2, :))', [0 0.9 1]);        % reference box, left edge
%! assert(squeeze(picture(20, 20, :))', [1 0.1 0.1]);     % the sketch's line
%! assert(picture(2, 2, 1), 0.5 * 0.75);                  % the dimmed image elsewhere
