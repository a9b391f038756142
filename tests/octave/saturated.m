function t = saturated(r, s)
% SATURATED  s*tanh(r/s) evaluated as the plug-ins evaluate it, rounded to single.
  t = single(s * ((2 / (exp((-2 * double(r)) / s) + 1)) - 1));
end
