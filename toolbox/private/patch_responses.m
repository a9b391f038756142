function responses = patch_responses(patches, filters, params)
% PATCH_RESPONSES  Normalized filter energies of small patches resized to the template size.
%
%   responses = patch_responses(patches, filters, params)
%
%   Each patch is resized to templateSize x templateSize pixels, filtered (energies), and
%   divided by its normalizer value at the template's centre, the same value by which
%   detection divides the responses of a template placed on a scene.
%
%   Arguments:
%     patches    rows x cols x imageCount array of grey patches.
%     filters    filter bank (filter_bank).
%     params     struct with templateSize, poolStep and the fields normalizer_maps needs.
%   Returns:
%     responses  imageCount x orientCount cell of fresh single maps.
%
%   Example:
%     params = struct('templateSize', 32, 'poolStep', 2, 'filterHalf', 5, ...
%                     'normalizerHalf', 10, 'relativeFloor', 0.1);
%     responses = patch_responses(rand(25, 25, 3), filter_bank(), params);

  side = params.templateSize;
  imageCount = size(patches, 3);
  responses = cell(imageCount, numel(filters));
  for image = 1:imageCount
    responses(image, :) = filter_responses(resize_image(patches(:, :, image), side, side), filters);
  end
  normalizers = normalizer_maps(responses, params);
  centre = template_centre(params);
  for image = 1:imageCount
    divisor = normalizers{image}(centre, centre);
    for o = 1:numel(filters)
      responses{image, o} = responses{image, o} / divisor;
    end
  end
end

function centre = template_centre(params)
% Pixel at which the scoring plug-ins read the normalizer of a placement, anchor 0.
  centre = floor((params.templateSize / 2) / params.poolStep) * params.poolStep;
end
