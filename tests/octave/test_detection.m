% The detection chain on a synthetic image: vindral pools the responses, brelind writes the
% normalizer, gastrel scores every placement, lurvane finds the best anchor, tarrow draws the
% deformed template there, and tarrowveto draws, scores and inhibits it, so that scoring the
% inhibited maps again finds the second, weaker copy of the template.

%!function maps = fresh_cells(n, r, c)
%!  maps = cell(1, n);
%!  for k = 1:n
%!    maps{k} = zeros(r, c, 'single');
%!  endfor
%!endfunction

%!function [score, anchorRow, anchorCol] = best_placement(pooled, normalizer, p)
%!  % Scores every placement of the template in p on fresh score maps and finds the best one.
%!  scoreSide = floor((p.templateSide + p.rows) / p.poolStep);
%!  scores = {zeros(scoreSide, scoreSide, 'single')};
%!  gastrel(1, p.rows, p.cols, p.orientCount, p.poolStep, p.templateSide, p.templateSide, numel(p.orients), ...
%!          p.orients, p.rowOffsets, p.colOffsets, p.weights, p.biases, pooled, scores, normalizer, p.level);
%!  score = zeros(1, 1, 'single'); anchorRow = 0; anchorCol = 0;
%!  lurvane(1, p.rows, p.cols, p.poolStep, p.templateSide, p.templateSide, scores, score, anchorRow, anchorCol);
%!endfunction

%!test
%! orientCount = 4; posShiftMax = 1; orientShiftMax = 0; poolStep = 2; filterHalf = 2;
%! rows = 40; cols = 40;
%! % Four elements at the corners of a square, one per orientation, in pooled units.
%! orients = [0 1 2 3]; rowOffsets = [1 1 6 6]; colOffsets = [1 6 1 6];
%! weights = [2 2 2 2]; biases = [0.5 0.5 0.5 0.5];
%! templateSide = 14; level = 60;
%! stamps = cell(1, orientCount);
%! for o = 1:orientCount
%!   stamps{o} = ones(2 * filterHalf + 1) * o;
%! endfor
%! p = struct('rows', rows, 'cols', cols, 'orientCount', orientCount, 'poolStep', poolStep, ...
%!            'templateSide', templateSide, 'orients', orients, 'rowOffsets', rowOffsets, ...
%!            'colOffsets', colOffsets, 'weights', weights, 'biases', biases, 'level', level);
%! rand('seed', 5);
%! responses = cell(1, orientCount);
%! for o = 1:orientCount
%!   responses{o} = single(rand(rows, cols) * 0.2);
%! endfor
%! % The strong copy at anchor (3, 4): elements at pooled (4, 5), (4, 10), (9, 5), (9, 10), that
%! % is pixels (8, 10), (8, 20), (18, 10), (18, 20); its orientation-0 element is planted two
%! % rows lower, at (10, 10), where a shift of +2 rows (slot 2) still finds it.
%! strong = [10 10; 8 20; 18 10; 18 20];
%! % The weak copy at anchor (11, 9): pixels (24, 20), (24, 30), (34, 20), (34, 30).
%! weak = [24 20; 24 30; 34 20; 34 30];
%! for k = 1:4
%!   responses{k}(strong(k, 1), strong(k, 2)) = 5;
%!   responses{k}(weak(k, 1), weak(k, 2)) = 3;
%! endfor
%! pooledSide = rows / poolStep;
%! pooled = fresh_cells(orientCount, pooledSide, pooledSide);
%! traces = fresh_cells(orientCount, pooledSide, pooledSide);
%! vindral(1, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep, responses, pooled, traces);
%! assert(traces{1}(4, 5), single(2));
%! normalizer = fresh_cells(1, rows, cols);
%! brelind(1, rows, cols, orientCount, 0, responses, normalizer, 3, 3, 0, 0.5);
%!
%! [best, anchorRow, anchorCol] = best_placement(pooled, normalizer, p);
%! assert([anchorRow, anchorCol], [3, 4]);
%!
%! sketch = fresh_cells(1, rows, cols);
%! tarrow(1, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep, filterHalf, stamps, ...
%!        numel(orients), orients, rowOffsets, colOffsets, pooled, traces, sketch, anchorRow, anchorCol, level);
%! % Each element is drawn where it matched, with its stamp's value times sqrt(saturate(5, 60)).
%! intensity = sqrt(single(level * tanh(5 / level)));
%! for k = 1:4
%!   assert(sketch{1}(strong(k, 1), strong(k, 2)), single(k * intensity), 1e-6);
%! endfor
%! assert(sketch{1}(8, 10), single(intensity), 1e-6);   % within the stamp drawn at (10, 10)
%! assert(sketch{1}(7, 10), single(0));                 % but not the element's own place
%! assert(all(all(sketch{1}(22:end, :) == 0)));         % the weak copy is not drawn
%!
%! vetoSketch = fresh_cells(1, rows, cols);
%! overlap = cell(orientCount, orientCount);
%! for k = 1:numel(overlap)
%!   overlap{k} = zeros(4 * filterHalf + 1);
%! endfor
%! imageScore = zeros(1, 1, 'single');
%! tarrowveto(1, rows, cols, orientCount, posShiftMax, orientShiftMax, poolStep, filterHalf, stamps, ...
%!            numel(orients), orients, rowOffsets, colOffsets, weights, biases, responses, pooled, traces, ...
%!            vetoSketch, anchorRow, anchorCol, level, templateSide, templateSide, overlap, imageScore, normalizer);
%! % The elements lie far enough apart that none inhibits another's source: they are drawn
%! % where tarrow drew them (brighter, their responses being divided by the normalizer), and
%! % the score equals the best placement's, bit for bit.
%! assert(vetoSketch{1} > 0, sketch{1} > 0);
%! assert(imageScore, best);
%! for k = 1:4
%!   assert(all(all(responses{k}(strong(k, 1) + (-4:4), strong(k, 2) + (-4:4)) == 0)));
%! endfor
%! assert(responses{1}(weak(1, 1), weak(1, 2)), single(3));
%!
%! [second, anchorRow, anchorCol] = best_placement(pooled, normalizer, p);
%! assert([anchorRow, anchorCol], [11, 9]);
%! assert(second < best);
