function m = otk_maps(fname, maps, label, layout)
% OTK_MAPS  Reads response maps given either as a numeric array or as a cell
%   array of maps, and checks their shapes exactly. LAYOUT is
%     'stacks'  nRows x nCols x N x nImages, or an nImages x N cell grid
%     'list'    nRows x nCols x n, or a cell vector of n maps
%   M has the fields grid (a cell array, nImages x N or n x 1, of double
%   maps, for reading only: they may share storage with MAPS), nImages, N
%   (1 for a list), nRows, nCols, isCell and cellSize (the size of MAPS,
%   for giving results back in the caller's shape).
  m.isCell = iscell(maps);
  m.cellSize = size(maps);
  if m.isCell
    if strcmp(layout, 'list')
      if ~isempty(maps) && ~isvector(maps)
        error('otk:badSize', '%s: %s must be a cell vector of maps (it is %s)', fname, label, dims_text(size(maps)));
      end
      maps = reshape(maps, numel(maps), 1);
    elseif ndims(maps) > 2
      error('otk:badSize', '%s: %s must be an nImages x N cell grid (it is %s)', fname, label, dims_text(size(maps)));
    end
    [m.nImages, m.N] = size(maps);
    m.grid = maps;
    m.nRows = 0;
    m.nCols = 0;
    for k = 1:numel(maps)
      [i, o] = ind2sub(size(maps), k);
      where = sprintf('%s cell {%d,%d}', label, i, o);
      map = otk_real(fname, maps{k}, where);
      if ndims(map) > 2
        error('otk:badMapSize', '%s: %s must be a matrix (it is %s)', fname, where, dims_text(size(map)));
      end
      if k == 1
        [m.nRows, m.nCols] = size(map);
      elseif ~isequal(size(map), [m.nRows, m.nCols])
        error('otk:badMapSize', '%s: %s is %s; every map must be %dx%d like the first', ...
              fname, where, dims_text(size(map)), m.nRows, m.nCols);
      end
      m.grid{k} = map;
    end
    return;
  end

  maps = otk_real(fname, maps, label);
  if strcmp(layout, 'list')
    if ndims(maps) > 3
      error('otk:badSize', '%s: %s must be nRows x nCols x n (it is %s)', fname, label, dims_text(size(maps)));
    end
    [m.nRows, m.nCols, m.nImages] = size(maps);
    m.N = 1;
    m.grid = cell(m.nImages, 1);
    for i = 1:m.nImages
      m.grid{i} = maps(:, :, i);
    end
  else
    if ndims(maps) > 4
      error('otk:badSize', '%s: %s must be nRows x nCols x N x nImages (it is %s)', fname, label, dims_text(size(maps)));
    end
    [m.nRows, m.nCols, m.N, m.nImages] = size(maps);
    m.grid = cell(m.nImages, m.N);
    for i = 1:m.nImages
      for o = 1:m.N
        m.grid{i, o} = maps(:, :, o, i);
      end
    end
  end
end

function t = dims_text(d)
  t = sprintf('%dx', d);
  t = t(1:end - 1);
end
