function demo_bar_chart(file, heights, barWidth, height)
% DEMO_BAR_CHART  Draw non-negative bar heights as a picture, without
%   needing a graphics toolkit: dark bars on white, tallest bar full height.
  n = numel(heights);
  picture = ones(height, n * barWidth);
  top = max(heights);
  if ~(top > 0)
    top = 1;
  end
  for b = 1:n
    h = round((height - 2) * heights(b) / top);
    if h > 0
      picture(height - h + 1:height, (b - 1) * barWidth + (2:barWidth - 1)) = 0.2;
    end
  end
  imwrite(uint8(round(255 * picture)), file);
end
