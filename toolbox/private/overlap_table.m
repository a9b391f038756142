function table = overlap_table(filters, threshold)
% OVERLAP_TABLE  Inhibition factors between filter elements: 0 where two filters overlap.
%
%   table = overlap_table(filters, threshold)
%
%   For a selected element of orientation a and a response of orientation b displaced by
%   (dx, dy) pixels (|dx|, |dy| <= 2h), the factor is 0 when the two filters are correlated
%   above threshold, |<filter a, filter b shifted by (dx, dy)>| > threshold (the filters
%   having unit energy), and 1 otherwise. A chosen element thus wipes out the responses
%   it explains, so that the learning and recovery plug-ins do not choose them again.
%
%   Arguments:
%     filters    1 x orientCount cell of (2h+1) x (2h+1) filters of unit energy.
%     threshold  correlation above which a response is wiped out (0 ... 1).
%   Returns:
%     table      orientCount x orientCount cell; table{a+1, b+1} is a (4h+1) x (4h+1)
%                double array of factors, centred on the selected element.
%
%   Example:
%     table = overlap_table(filter_bank(8, 5, 5), 0.1);
%     table{1, 1}(11, 11)                     % 0: an element explains its own response

  % A search or a learning run asks for the same table each time: the last one made is kept
  % and given again for the same filters and threshold (it is only read).
  persistent lastFilters lastThreshold lastTable
  if isequal(filters, lastFilters) && isequal(threshold, lastThreshold)
    table = lastTable;
    return;
  end
  orientCount = numel(filters);
  table = cell(orientCount);
  for a = 1:orientCount
    for b = 1:orientCount
      correlation = conv2(filters{a}, rot90(conj(filters{b}), 2));
      table{a, b} = double(abs(correlation) <= threshold);
    end
  end
  lastFilters = filters;
  lastThreshold = threshold;
  lastTable = table;
end
