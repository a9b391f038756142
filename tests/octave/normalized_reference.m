function expected = normalized_reference(maps, rows, cols, em, hx, hy, rf, cls)
% NORMALIZED_REFERENCE  What somvert (cls 'single') or somvertwide (cls 'double') must leave
% in an image's orientation maps: each value divided by its position's divisor from
% window_mean_reference; values past rows*cols untouched, and every map unchanged when no
% window fits.
  expected = maps;
  d = window_mean_reference(maps, rows, cols, em, hx, hy, rf, cls);
  if isempty(d)
    return;
  end
  for o = 1:numel(maps)
    v = reshape(maps{o}(1:rows*cols), rows, cols);
    q = v ./ d;
    expected{o}(1:rows*cols) = q(:);
  end
end
