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

% Maps of other classes give the bits of their values as doubles, as an
% array and as cells, in every function that takes maps; templates with
% integer and single fields give the bits of their values as doubles.
seed = 43;
rand('state', seed);
randn('state', seed);
tpl = otk_template([0 3 1 2], [2 5 4 6], [3 7 1 4], [1 -0.5 2 0.25], [0.2 0 0.1 0.4]);
calls = {@(x) otk_score_template(x, tpl, 'Saturation', 3), 3, false; @(x) otk_search_transform(x, tpl), 4, false;
         @(x) otk_saturate(x, 2), 1, false; @(x) otk_response_density(x, 'Saturation', 2, 'Margin', 1), 3, false;
         @(x) otk_warp_stacks(x, [1 -1], 0, [3 -5]), 1, false; @(x) otk_warp_maps(x, 1, -1, 2, 4), 1, true};
classes = {'single', 'int8', 'uint8', 'int16', 'uint16', 'int32', 'uint32', 'int64', 'uint64', 'logical'};
for k = 1:numel(classes)
  stack = feval(classes{k}, 20 * rand(6, 7, 4, 2) - 5);
  inputs = {stack, double(stack), stack(:, :, :, 1), double(stack(:, :, :, 1))};  % stacks, then lists
  for form = 1:2
    if form == 2
      inputs = cellfun(@as_grid, inputs, 'UniformOutput', false);  % lists as 1 x 4 cell rows
    end
    for c = 1:rows(calls)
      at = 1 + 2 * calls{c, 3};
      got = cell(1, calls{c, 2}); want = got;
      [got{:}] = calls{c, 1}(inputs{at});
      [want{:}] = calls{c, 1}(inputs{at + 1});
      check(isequal(bits_of(got), bits_of(want)), sprintf('call %d on %s maps (form %d)', c, classes{k}, form), k);
    end
  end
end
maps = rand(6, 7, 4, 2) .^ 2;
tpl32 = struct('orientation', int32(tpl.orientation), 'row', int32(tpl.row), 'column', int32(tpl.column), ...
               'weight', single(tpl.weight + 0.1), 'bias', single(tpl.bias));
tpl64 = structfun(@double, tpl32, 'UniformOutput', false);
got = cell(2, 4); want = got;
[got{1, 1:3}] = otk_score_template(maps, tpl32); [got{2, :}] = otk_search_transform(maps, tpl32, 'OriRange', 2);
[want{1, 1:3}] = otk_score_template(maps, tpl64); [want{2, :}] = otk_search_transform(maps, tpl64, 'OriRange', 2);
check(isequal(bits_of(got), bits_of(want)), 'an int32 and single template', 0);

% One or two outputs of otk_score_template are the first of three.
[s, p, r] = otk_score_template(maps, tpl);
s1 = otk_score_template(maps, tpl);
[s2, p2] = otk_score_template(maps, tpl);
check(isequal(bits_of({s1, s2, p2}), bits_of({s, s, p})), 'fewer outputs', 0);

% Saturation of arrays of odd sizes, one longer than 65536 elements: the
% plain formula's bits, the shape kept. Cells come back in their shape.
for x = {3 * randn(3, 5, 2), 3 * randn(1, 70001), randn(70001, 1)}
  v = x{1};
  check(isequal(bits_of(otk_saturate(v, 1.7)), bits_of(1.7 * (2 ./ (exp(-2 * v / 1.7) + 1) - 1))), ...
        sprintf('otk_saturate of a %s array', mat2str(size(v))), 0);
end
c = mat2cell(3 * randn(4, 9), [2 2], [3 3 3]);
sat = cellfun(@(v) 2 * (2 ./ (exp(-2 * v / 2) + 1) - 1), c, 'UniformOutput', false);
check(isequal(bits_of(otk_saturate(c, 2)), bits_of(sat)), 'otk_saturate of a 2 x 3 cell', 0);
c = {rand(3), rand(3), rand(3)};
warped = num2cell(otk_warp_maps(cat(3, c{:}), 1, 0, [0 1 2], 2), [1 2]);
check(isequal(bits_of(otk_warp_maps(c, 1, 0, [0 1 2], 2)), bits_of(reshape(warped, 1, 3))), ...
      'otk_warp_maps of a 1 x 3 cell', 0);

% Calls large enough to be cut into the chunks that let Ctrl-C stop them
% (more than half a million elements under one transform, a density of
% more than 2^18 values, one image's search of more than some milliseconds)
% give the bits of the same work in calls too small to be cut, on 1 and on
% 2 threads.
big = randn(128, 128, 4, 20);
oneMap = 2 * rand(64, 64, 8) - 0.5;
e = (0:19999)';
wide = otk_template(mod(e, 8), mod(e * 7, 60) + 2, mod(e * 13, 60) + 2, 1 + mod(e, 3), mod(e, 2) / 4);
searched = {};
before = otk_threads();
for threads = [1 2]
  otk_threads(threads);
  warped = otk_warp_stacks(big, 2, -1, 3);
  maps = otk_warp_maps(reshape(big, 128, 128, []), 2, -1, 3, 4);
  [d, n] = otk_response_density(big, 'Bins', 7);
  counts = zeros(1, 7);
  for i = 1:20
    check(same(warped(:, :, :, i), otk_warp_stacks(big(:, :, :, i), 2, -1, 3)), ...
          sprintf('stack %d of a long otk_warp_stacks on %d threads', i, threads), 0);
    check(same(maps(:, :, 4 * i - 3:4 * i), otk_warp_maps(big(:, :, :, i), 2, -1, 3, 4)), ...
          sprintf('stack %d of a long otk_warp_maps on %d threads', i, threads), 0);
    [di, ni] = otk_response_density(big(:, :, :, i), 'Bins', 7);
    counts = counts + round(di * ni / 7);
  end
  check(isequal(round(d * n / 7), counts), sprintf('counts of a long otk_response_density on %d threads', threads), 0);
  searched{end + 1} = otk_search_transform(oneMap, wide, 'ShiftRange', 4);
end
otk_threads(before);
check(isequal(searched{1}, searched{2}), 'a long one-image otk_search_transform on 1 and 2 threads', 0);

printf('test_otk_bits: 20 random trials, every function identical to its plug-in; any class, any shape\n');
