function grid = otk_fresh_maps(rows, cols, nRows, nCols)
% OTK_FRESH_MAPS  A ROWS x COLS cell array of nRows x nCols zero maps, each in
%   storage of its own (repmat({zeros(...)}) would make them share one, and
%   a plug-in writing into one would write into all).
  grid = cell(rows, cols);
  for k = 1:numel(grid)
    grid{k} = zeros(nRows, nCols);
  end
end
