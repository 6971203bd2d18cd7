function [x2, y2, o2] = demo_transform_points(N, cx, cy, x, y, ori, dX, dY, dO)
% DEMO_TRANSFORM_POINTS  Turn points about (cx, cy) by dO orientation steps
%   of PI/N, then shift by (dX, dY): the toolbox's point transform, in the
%   same polar form and with the same PI, so that a template moved here lands
%   where Wendlow's search moves it.
  PI = 3.1415926;
  alpha = atan2(y - cy, x - cx) + (PI * dO) / N;
  radius = sqrt((y - cy).^2 + (x - cx).^2);
  x2 = floor((0.5 + (cx + dX)) + radius .* cos(alpha));
  y2 = floor((0.5 + (cy + dY)) + radius .* sin(alpha));
  o2 = mod(ori + dO, N);
end
