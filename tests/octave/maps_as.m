function a = maps_as(grid, form)
% MAPS_AS  A fresh copy of a grid of equal-size maps in a form the raw
%   plug-ins take: form 1 a cell array like grid, 2 one double array holding
%   the maps one after another (cell (r, c) of an R x C grid is map c + C*r,
%   so an nImages x N grid becomes nRows x nCols x N x nImages), 3 that array
%   as a column with the seven elements (1:7)'/8 past the last map, which
%   the plug-ins must neither read nor write.
  if form == 1
    a = cellfun(@(m) m + 0, grid, 'UniformOutput', false);
    return;
  end
  t = grid.';
  a = cat(3, zeros(0, 0), t{:});
  if form == 3
    a = [a(:); (1:7)' / 8];
  end
end
