function tables = lookup_tables(density, binWidth, lambdas)
% LOOKUP_TABLES  Mean response, weight and bias of an element for a grid of weights.
%
%   tables = lookup_tables(density, binWidth, lambdas)
%
%   An element of weight lambda tilts the background density q(r) of saturated responses
%   into q(r)*exp(lambda*r)/Z(lambda). For each lambda of the grid this computes, over the
%   bins (r at each bin's centre, dr = binWidth):
%     Z(lambda)    = sum q(r)*exp(lambda*r)*dr
%     mean(lambda) = sum r*q(r)*exp(lambda*r)*dr / Z(lambda)
%     bias(lambda) = log Z(lambda)
%   The mean rises with lambda, so it serves as the search key from which the learning
%   plug-in finds an element's weight and bias.
%
%   Arguments:
%     density   background density per bin (cobrint), bin b covering [b, b+1)*binWidth.
%     binWidth  width of a bin.
%     lambdas   ascending grid of weights.
%   Returns:
%     tables    struct with row vectors weight (the lambdas), meanResponse and bias, and
%               length, the number of entries.
%
%   Example:
%     tables = lookup_tables(ones(1, 30) / 3, 0.1, 0:0.1:5);
%     tables.meanResponse(1)                  % 1.5: the mean of a uniform density on [0, 3)

  r = ((0:numel(density) - 1) + 0.5) * binWidth;
  lambdas = lambdas(:)';
  tilted = exp(lambdas' * r) .* (ones(numel(lambdas), 1) * (density(:)' * binWidth));
  z = sum(tilted, 2)';
  tables.weight = lambdas;
  tables.meanResponse = (tilted * r')' ./ z;
  tables.bias = log(z);
  tables.length = numel(lambdas);
end
