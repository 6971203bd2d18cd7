% The function layer returns, bit for bit, what the raw plug-ins write on the
% same data, for both map layouts (numeric array and cell grid) and for
% other numeric classes; otk_transform_points equals the point transform
% written out in plain host code.

seed = 41;
rand('state', seed);
randn('state', seed);
same = @(a, b) isequal(size(a), size(b)) && isequal(typecast(a(:), 'uint64'), typecast(b(:), 'uint64'));
check = @(ok, what, trial) assert(ok, sprintf('%s differs in trial %d (seed %d)', what, trial, seed));

function grid = as_grid(stack)
  [~, ~, N, nImages] = size(stack);
  grid = cell(nImages, N);
  for i = 1:nImages
    for o = 1:N
      grid{i, o} = stack(:, :, o, i);
    end
  end
end

function grid = zero_grid(rows, cols, nRows, nCols)
  grid = cell(rows, cols);
  for k = 1:numel(grid)
    grid{k} = zeros(nRows, nCols);
  end
end

for trial = 1:20
  nImages = randi(3); N = randi(16); nRows = randi([5 14]); nCols = randi([5 14]);
  K = randi([0 6]);
  stack = 2 * rand(nRows, nCols, N, nImages) - 0.4;
  grid = as_grid(stack);
  tpl = otk_template(randi([0 N - 1], 1, K), randi([-1 nRows + 2], 1, K), randi([-1 nCols + 2], 1, K), ...
                     randn(1, K), rand(1, K));
  shiftRange = randi([0 2]); oriRange = randi([0 min(N, 2)]); shiftStep = randi([-1 2]);
  saturation = 0.2 + rand();
  half = randi([0 2]);
  patches = rand(2 * half + 1, 2 * half + 1, N) - 0.2;
  patchList = cell(N, 1);
  for k = 1:N
    patchList{k} = patches(:, :, k);
  end

  % Scoring.
  scores = zeros(nImages, 1); pooled = zeros(nImages, K); renders = zero_grid(nImages, 1, nRows, nCols);
  Halvery(nImages, N, grid, {}, half, nRows, nCols, 0, tpl.orientation, tpl.row, tpl.column, tpl.weight, ...
          tpl.bias, patchList, renders, shiftRange, oriRange, shiftStep, K, saturation, scores, pooled, 0, 0, 0, 0);
  opts = {'ShiftRange', shiftRange, 'OriRange', oriRange, 'ShiftStep', shiftStep, 'Saturation', saturation};
  [s, p, r] = otk_score_template(stack, tpl, opts{:}, 'Patches', patches);
  check(same(s, scores) && same(p, pooled) && same(r, cat(3, renders{:}, zeros(nRows, nCols, 0))), ...
        'otk_score_template (array)', trial);
  [s, p, r] = otk_score_template(grid, tpl, opts{:}, 'Patches', patchList);
  check(same(s, scores) && same(p, pooled) && isequal(r, renders), 'otk_score_template (cells)', trial);
  [s, p] = otk_score_template(single(stack), tpl, opts{:});
  [s2, p2] = otk_score_template(double(single(stack)), tpl, opts{:});
  check(same(s, s2) && same(p, p2), 'otk_score_template (single)', trial);

  % Search.
  best = zeros(nImages, 1); dX = NaN(nImages, 1); dY = NaN(nImages, 1); dO = NaN(nImages, 1);
  Wendlow(nImages, N, grid, {}, 0, nRows, nCols, 0, tpl.orientation, tpl.row, tpl.column, tpl.weight, ...
          tpl.bias, {}, {}, shiftRange, oriRange, shiftStep, K, saturation, best, 0, 0, 0, 0, 0, dX, dY, dO);
  [a, b, c, d] = otk_search_transform(stack, tpl, opts{:});
  check(same(a, best) && same(b, dX) && same(c, dY) && same(d, dO), 'otk_search_transform', trial);
  res = otk_search_transform(grid, tpl, opts{:});
  check(same([res.score]', best) && same([res.rowShift]', dX) && same([res.rotation]', dO), ...
        'otk_search_transform (struct)', trial);

  % Warps: per-map and per-image transforms, negative ones included.
  shifts = randi([-3 3], 3, nImages);
  shifts(3, :) = randi([-2 * N, 2 * N], 1, nImages);
  warped = zero_grid(nImages, N, nRows, nCols);
  Mundle(nImages, N, grid, warped, nRows, nCols, shifts(1, :), shifts(2, :), shifts(3, :));
  out = otk_warp_stacks(stack, shifts(1, :), shifts(2, :), shifts(3, :));
  check(same(out, cat(4, zeros(nRows, nCols, N, 0), reshape(cat(3, warped'{:}), nRows, nCols, N, nImages))), ...
        'otk_warp_stacks', trial);
  check(isequal(otk_warp_stacks(grid, shifts(1, :), shifts(2, :), shifts(3, :)), warped), 'otk_warp_stacks (cells)', trial);

  list = grid(:, 1);
  single_maps = zero_grid(nImages, 1, nRows, nCols);
  Sabrel(nImages, N, list, single_maps, nRows, nCols, shifts(1, :), shifts(2, :), shifts(3, :));
  out = otk_warp_maps(squeeze(stack(:, :, 1, :)), shifts(1, :), shifts(2, :), shifts(3, :), N);
  check(same(reshape(out, nRows, nCols, nImages), cat(3, single_maps{:}, zeros(nRows, nCols, 0))), 'otk_warp_maps', trial);

  % Saturation and density (the raw plug-ins on copies of their own).
  level = 0.3 + 2 * rand();
  raw = cellfun(@(m) m .* 1, grid, 'UniformOutput', false);
  Fenwold(nImages, N, raw, nRows, nCols, level);
  sat = otk_saturate(stack, level);
  check(same(sat, reshape(cat(3, raw'{:}), size(stack))), 'otk_saturate', trial);
  check(isequal(otk_saturate(grid, level), raw), 'otk_saturate (cells)', trial);

  margin = randi([0 2]); nBins = randi([1 12]); binWidth = level / randi([1 12]);
  raw = cellfun(@(m) m .* 1, grid, 'UniformOutput', false);
  h = zeros(1, nBins);
  Porrith(nImages, N, raw, margin, nRows, nCols, binWidth, nBins, h, level);
  [dens, count, satd] = otk_response_density(grid, 'Saturation', level, 'Bins', nBins, ...
                                             'BinWidth', binWidth, 'Margin', margin);
  check(same(dens, h) && isequal(satd, raw), 'otk_response_density', trial);
  inside = max(0, nRows - 2 * margin - 1) * max(0, nCols - 2 * margin - 1) * nImages * N;
  check(count == inside, 'the count binned', trial);
  check(count == 0 || abs(sum(dens) * binWidth - 1) < 1e-12, 'the density integral', trial);

  % Points: the compiled transform against the plain one, any rotation.
  n = randi(8);
  px = randi([-40 40], 1, n); py = randi([-40 40], 1, n); po = randi([0 N - 1], 1, n);
  cx = randi([-5 20]); cy = randi([-5 20]); sx = randi([-3 3]); sy = randi([-3 3]); so = randi([-40 40]);
  [gx, gy, go] = otk_transform_points(N, cx, cy, px, py, po, sx, sy, so);
  for k = 1:n
    [ex, ey, eo] = point_reference(N, cx, cy, px(k), py(k), po(k), sx, sy, so);
    check(gx(k) == ex && gy(k) == ey && go(k) == eo, sprintf('otk_transform_points point %d', k), trial);
  end
end
printf('test_otk_bits: 20 random trials, every function identical to its plug-in\n');
