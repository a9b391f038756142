function [weights, bias] = fit_logistic(features, labels, regularization)
% FIT_LOGISTIC  Regularized logistic regression, both classes weighted equally, by Newton steps.
%
%   [weights, bias] = fit_logistic(features, labels, regularization)
%
%   Minimizes the mean log loss of each class (so that a class with many more examples does
%   not outweigh the other) plus regularization/2 times the squared weights (the bias is
%   not penalized), by Newton's method: the loss is convex and smooth, so a few steps
%   converge; each step is halved until the loss falls.
%
%   Arguments:
%     features        n x d real array, a row per example (best standardized).
%     labels          n x 1 logical, true for the positive class; both classes must occur.
%     regularization  the penalty's weight, positive.
%   Returns:
%     weights         d x 1 weights; the log odds of a row x are x * weights + bias.
%     bias
%
%   Example:
%     x = [randn(50, 2) + 1; randn(50, 2) - 1];
%     [w, b] = fit_logistic(x, [true(50, 1); false(50, 1)], 0.1);
%     printf('both weights positive: %d\n', all(w > 0));

  stepLimit = 50;               % Newton steps at most
  tolerance = 1e-6;             % stop once a step lowers the loss by less than this
  halvingLimit = 30;
  labels = logical(labels(:));
  [count, dimension] = size(features);
  exampleWeights = zeros(count, 1);
  exampleWeights(labels) = 1 / (2 * sum(labels));
  exampleWeights(~labels) = 1 / (2 * sum(~labels));
  design = [features, ones(count, 1)];
  penalty = regularization * [ones(dimension, 1); 0];
  theta = zeros(dimension + 1, 1);
  loss = objective(design, labels, exampleWeights, penalty, theta);
  for step = 1:stepLimit
    probabilities = 1 ./ (1 + exp(-design * theta));
    gradient = design' * (exampleWeights .* (probabilities - labels)) + penalty .* theta;
    curvature = exampleWeights .* probabilities .* (1 - probabilities);
    % design' * (design .* curvature), each entry summed in row order, on every core.
    hessian = zeros(dimension + 1);
    crossum(count, dimension + 1, dimension + 1, design, design .* curvature, hessian);
    hessian = hessian + diag(penalty);
    direction = -(hessian \ gradient);
    stepSize = 1;
    for halving = 1:halvingLimit
      candidate = theta + stepSize * direction;
      candidateLoss = objective(design, labels, exampleWeights, penalty, candidate);
      if candidateLoss <= loss
        break;
      end
      stepSize = stepSize / 2;
    end
    improvement = loss - candidateLoss;
    if improvement < 0
      break;
    end
    theta = candidate;
    loss = candidateLoss;
    if improvement < tolerance
      break;
    end
  end
  weights = theta(1:dimension);
  bias = theta(end);
end

function loss = objective(design, labels, exampleWeights, penalty, theta)
% The weighted log loss plus the penalty; log(1 + exp(-m)) computed without overflow.
  margins = (2 * labels - 1) .* (design * theta);
  losses = max(-margins, 0) + log1p(exp(-abs(margins)));
  loss = exampleWeights' * losses + 0.5 * sum(penalty .* theta .^ 2);
end
