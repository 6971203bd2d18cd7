function m = demo_montage(maps, columns, gap)
% DEMO_MONTAGE  Tile equally sized maps (a cell array) into one matrix,
%   each stretched to its own range, with a white gap between tiles.
  [h, w] = size(maps{1});
  rows = ceil(numel(maps) / columns);
  m = ones(rows * (h + gap) - gap, columns * (w + gap) - gap);
  for k = 1:numel(maps)
    tile = maps{k};
    lo = min(tile(:));
    hi = max(tile(:));
    if hi > lo
      tile = (tile - lo) / (hi - lo);
    else
      tile = zeros(h, w);
    end
    r = floor((k - 1) / columns);
    c = mod(k - 1, columns);
    m(r * (h + gap) + (1:h), c * (w + gap) + (1:w)) = tile;
  end
end
