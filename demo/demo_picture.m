function demo_picture(file, m, scale)
% DEMO_PICTURE  Write a map as an 8-bit grey picture, stretched to its range
%   and enlarged scale times.
  if nargin < 3
    scale = 1;
  end
  lo = min(m(:));
  hi = max(m(:));
  if hi > lo
    m = (m - lo) / (hi - lo);
  else
    m = zeros(size(m));
  end
  m = kron(m, ones(scale));
  imwrite(uint8(round(255 * m)), file);
end
