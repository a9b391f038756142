function text = template_summary(template)
% TEMPLATE_SUMMARY  One line on what learning made of the elements asked for, e.g.
% "elements learned: 37 of 40 asked; 3 carried no weight".
  text = sprintf('elements learned: %d of %d asked', template.weightedCount, template.elementCount);
  weightless = template.elementCount - template.weightedCount;
  if weightless > 0
    text = [text, sprintf('; %d carried no weight', weightless)];
  end
  if template.repeatedCount == 1
    text = [text, '; 1 repeats an earlier element''s place'];
  elseif template.repeatedCount > 1
    text = [text, sprintf('; %d repeat earlier elements'' places', template.repeatedCount)];
  end
end
