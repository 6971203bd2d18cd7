function m = warp_map(rows, cols, base)
% WARP_MAP  A map holding base + 10*row + column at each element, rows and
%   columns counted from 0: [0 1 2; 10 11 12; 20 21 22] for the 3 x 3 default.
  if nargin < 1, rows = 3; end
  if nargin < 2, cols = rows; end
  if nargin < 3, base = 0; end
  m = base + 10 * (0:rows - 1)' + (0:cols - 1);
end
