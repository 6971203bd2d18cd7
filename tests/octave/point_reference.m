function [xr, yr, o] = point_reference(N, cx, cy, x, y, iOri, dX, dY, dO)
% POINT_REFERENCE  The toolbox's point transform written out in the host
%   language: the orientation loop, then the polar form with PI = 3.1415926.
  PI = 3.1415926;
  o = iOri + dO;
  while o < 0
    o = o + N;
  end
  if o >= N
    o = mod(o, N);
  end
  alpha = atan2(y - cy, x - cx) + (PI * dO) / N;
  radius = sqrt((y - cy) * (y - cy) + (x - cx) * (x - cx));
  xr = floor((0.5 + (cx + dX)) + radius * cos(alpha));
  yr = floor((0.5 + (cy + dY)) + radius * sin(alpha));
end
