function out = otk_assemble(grid, nRows, nCols, asCell, layout)
% OTK_ASSEMBLE  Result maps in the layout the caller used: the cell GRID
%   itself when the input was a cell array, else one numeric array,
%   nRows x nCols x n for a list (LAYOUT 'list') or nRows x nCols x N x
%   nImages for a grid of stacks (LAYOUT 'stacks').
  if asCell
    out = grid;
    return;
  end
  [nImages, N] = size(grid);
  if strcmp(layout, 'list')
    out = zeros(nRows, nCols, nImages);
    for i = 1:nImages
      out(:, :, i) = grid{i};
    end
  else
    out = zeros(nRows, nCols, N, nImages);
    for i = 1:nImages
      for o = 1:N
        out(:, :, o, i) = grid{i, o};
      end
    end
  end
end
