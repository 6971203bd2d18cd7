% OTK_TIMING  The otk_ functions against the raw plug-ins underneath, through
% the host, on the same data:
%
%   octave-cli --norc --path build/mex bench/otk_timing.m
%
% For each job the columns are: the raw plug-in with its arguments prepared
% beforehand as an expert keeps them (cell grids, fresh result arrays made
% outside the timing), the raw plug-in given numeric arrays instead of cell
% grids, and the otk_ function given a numeric array and given a cell grid.
% The four calls of a job alternate for ROUNDS rounds; a round of a short
% job repeats the call enough times to last a few milliseconds. The table
% shows medians per call and their ratios to the raw call with cells.
% OTK_NUM_THREADS, when set, is the plug-ins' thread count. Octave-only.

1;

function maps = asGrid(stack)
  [~, ~, N, nImages] = size(stack);
  maps = cell(nImages, N);
  for i = 1:nImages
    for o = 1:N
      maps{i, o} = stack(:, :, o, i);
    end
  end
end

function list = asList(stack)
  n = size(stack, 3);
  list = cell(n, 1);
  for i = 1:n
    list{i} = stack(:, :, i);
  end
end

function grid = zeroGrid(rows, cols, nRows, nCols)
  grid = cell(rows, cols);
  for k = 1:numel(grid)
    grid{k} = zeros(nRows, nCols);
  end
end

% Elements at integer positions inside a disc of radius 0.4*n about the
% centre, orientations uniform, weights 0.5 to 2, biases 0 to 0.2.
function tpl = randomTemplate(n, N, K)
  r = 0.4 * n * sqrt(rand(1, K));
  a = 2 * pi * rand(1, K);
  tpl = otk_template(floor(rand(1, K) * N), round(n / 2 + r .* cos(a)), round(n / 2 + r .* sin(a)), ...
                     0.5 + 1.5 * rand(1, K), 0.2 * rand(1, K));
end

% Seconds per call of f over reps calls; prepare() runs before each call,
% outside the timing, and hands f what it prepared.
function t = perCall(f, prepare, reps)
  total = 0;
  for r = 1:reps
    a = prepare();
    started = tic;
    f(a);
    total = total + toc(started);
  end
  t = total / reps;
end

function row(name, calls, prepares, reps, rounds)
  t = zeros(rounds, numel(calls));
  for r = 1:rounds
    for k = 1:numel(calls)
      t(r, k) = perCall(calls{k}, prepares{k}, reps);
    end
  end
  m = median(t, 1);
  printf('%-40s %9.3f %9.3f %9.3f %9.3f   %5.2f %5.2f %5.2f\n', name, 1e3 * m, m(2:4) / m(1));
end

function a = nothing()
  a = [];
end

% The jobs --------------------------------------------------------------

function scoreJob(name, nImages, N, n, K, rounds, outputs)
  stack = rand(n, n, N, nImages);
  grid = asGrid(stack);
  tpl = randomTemplate(n, N, K);
  patches = repmat({1}, N, 1);
  reps = max(1, round(2e-3 / (nImages * N * n * n * 1e-9 + 2e-5)));
  raw = @(a) Halvery(nImages, N, a.maps, {}, 0, n, n, 0, tpl.orientation, tpl.row, tpl.column, tpl.weight, ...
                     tpl.bias, a.patches, a.renders, 1, 1, 1, K, Inf, a.scores, a.pooled, 0, 0, 0, 0);
  cells = @() struct('maps', {grid}, 'patches', {patches}, 'renders', {zeroGrid(nImages, 1, n, n)}, ...
                     'scores', zeros(nImages, 1), 'pooled', zeros(nImages, K));
  arrays = @() struct('maps', stack, 'patches', ones(1, 1, N), 'renders', zeros(n, n, nImages), ...
                      'scores', zeros(nImages, 1), 'pooled', zeros(nImages, K));
  if outputs > 2
    layerArray = @(a) otk_score_template_3(stack, tpl);
    layerCells = @(a) otk_score_template_3(grid, tpl);
  else
    layerArray = @(a) otk_score_template_2(stack, tpl);
    layerCells = @(a) otk_score_template_2(grid, tpl);
  end
  row(name, {raw, raw, layerArray, layerCells}, {cells, arrays, @nothing, @nothing}, reps, rounds);
end

function otk_score_template_3(maps, tpl)
  [s, p, r] = otk_score_template(maps, tpl); %#ok<ASGLU>
end

function otk_score_template_2(maps, tpl)
  [s, p] = otk_score_template(maps, tpl); %#ok<ASGLU>
end

function searchJob(name, nImages, N, n, K, rounds)
  stack = rand(n, n, N, nImages);
  grid = asGrid(stack);
  tpl = randomTemplate(n, N, K);
  raw = @(a) Wendlow(nImages, N, a.maps, {}, 0, n, n, 0, tpl.orientation, tpl.row, tpl.column, tpl.weight, ...
                     tpl.bias, {}, {}, 1, 1, 1, K, Inf, a.score, 0, 0, 0, 0, 0, a.dx, a.dy, a.dori);
  results = @(maps) struct('maps', maps, 'score', zeros(nImages, 1), 'dx', NaN(nImages, 1), ...
                           'dy', NaN(nImages, 1), 'dori', NaN(nImages, 1));
  cells = @() results({grid});
  arrays = @() results(stack);
  layerArray = @(a) otk_search_transform(stack, tpl, 'ShiftRange', 1, 'OriRange', 1);
  layerCells = @(a) otk_search_transform(grid, tpl, 'ShiftRange', 1, 'OriRange', 1);
  row(name, {raw, raw, layerArray, layerCells}, {cells, arrays, @nothing, @nothing}, 1, rounds);
end

function warpMapsJob(name, count, n, rounds)
  stack = rand(n, n, count);
  list = asList(stack);
  dX = mod(0:count - 1, 5) - 2;
  dY = mod(0:count - 1, 3) - 1;
  dO = mod(0:count - 1, 16);
  raw = @(a) Sabrel(count, 16, a.from, a.to, n, n, dX, dY, dO);
  cells = @() struct('from', {list}, 'to', {zeroGrid(count, 1, n, n)});
  arrays = @() struct('from', stack, 'to', zeros(n, n, count));
  layerArray = @(a) otk_warp_maps(stack, dX, dY, dO, 16);
  layerCells = @(a) otk_warp_maps(list, dX, dY, dO, 16);
  row(name, {raw, raw, layerArray, layerCells}, {cells, arrays, @nothing, @nothing}, 1, rounds);
end

function warpStacksJob(name, nImages, N, n, rounds)
  stack = rand(n, n, N, nImages);
  grid = asGrid(stack);
  dX = mod(0:nImages - 1, 5) - 2;
  dY = mod(0:nImages - 1, 3) - 1;
  dO = mod(3 * (0:nImages - 1), N);
  raw = @(a) Mundle(nImages, N, a.from, a.to, n, n, dX, dY, dO);
  cells = @() struct('from', {grid}, 'to', {zeroGrid(nImages, N, n, n)});
  arrays = @() struct('from', stack, 'to', zeros(n, n, N, nImages));
  layerArray = @(a) otk_warp_stacks(stack, dX, dY, dO);
  layerCells = @(a) otk_warp_stacks(grid, dX, dY, dO);
  row(name, {raw, raw, layerArray, layerCells}, {cells, arrays, @nothing, @nothing}, 1, rounds);
end

% The raw calls saturate fresh copies, made outside the timing.
function saturateJob(name, nImages, N, n, rounds)
  stack = 2 * rand(n, n, N, nImages);
  grid = asGrid(stack);
  raw = @(a) Fenwold(nImages, N, a.maps, n, n, 0.7);
  cells = @() struct('maps', {cellfun(@(x) x .* 1, grid, 'UniformOutput', false)});
  arrays = @() struct('maps', stack .* 1);
  layerArray = @(a) otk_saturate(stack, 0.7);
  layerCells = @(a) otk_saturate(grid, 0.7);
  row(name, {raw, raw, layerArray, layerCells}, {cells, arrays, @nothing, @nothing}, 1, rounds);
end

function densityJob(name, nImages, N, n, rounds)
  stack = 2 * rand(n, n, N, nImages);
  grid = asGrid(stack);
  raw = @(a) Porrith(nImages, N, a.maps, 2, n, n, 0.05, 20, zeros(1, 20), 1);
  cells = @() struct('maps', {cellfun(@(x) x .* 1, grid, 'UniformOutput', false)});
  arrays = @() struct('maps', stack .* 1);
  layerArray = @(a) otk_response_density(stack, 'Margin', 2, 'BinWidth', 0.05);
  layerCells = @(a) otk_response_density(grid, 'Margin', 2, 'BinWidth', 0.05);
  row(name, {raw, raw, layerArray, layerCells}, {cells, arrays, @nothing, @nothing}, 1, rounds);
end

% What the host itself takes to hand back a new array of a result's size:
% the floor under every function that returns one (the raw calls write
% into arrays made before the timing).
function hostFloor(name, dims, rounds)
  t = zeros(rounds, 1);
  for r = 1:rounds
    started = tic;
    z = zeros(dims); %#ok<NASGU>
    t(r) = toc(started);
    clear z;
  end
  printf('%-40s %9.3f\n', name, 1e3 * median(t));
end

% ------------------------------------------------------------------------

rand('state', 5);
rounds = 7;
threads = getenv('OTK_NUM_THREADS');
if isempty(threads)
  threads = 'all cores';
end
printf('otk_timing: %d rounds, medians, threads: %s\n', rounds, threads);
printf('%-40s %9s %9s %9s %9s   %5s %5s %5s\n', 'job (ms per call)', 'raw cell', 'raw num', ...
       'otk num', 'otk cell', 'r.num', 'o.num', 'o.cel');
scoreJob('score, 32 x 16 x 128^2, 60 elements', 32, 16, 128, 60, rounds, 3);
scoreJob('  the same, scores and pooled values only', 32, 16, 128, 60, rounds, 2);
scoreJob('score, 1 x 16 x 64^2, 30 elements', 1, 16, 64, 30, rounds, 3);
searchJob('search, 32 x 16 x 128^2, 60 el., 1/1', 32, 16, 128, 60, rounds);
warpMapsJob('warp maps, 16 x 256^2', 16, 256, rounds);
warpStacksJob('warp stacks, 4 x 16 x 256^2', 4, 16, 256, rounds);
saturateJob('saturate, 4 x 16 x 256^2', 4, 16, 256, rounds);
densityJob('density, 4 x 16 x 256^2', 4, 16, 256, rounds);
scoreJob('score, 1 x 2 x 5^2, 1 element', 1, 2, 5, 1, rounds, 3);
hostFloor('host: a new 256 x 256 x 16 x 4 array', [256 256 16 4], rounds);
hostFloor('host: a new 128 x 128 x 32 array', [128 128 32], rounds);
