% OCTAVE_TIMING  The through-host table: what each plug-in and each otk_
% function costs a user of the host, at 1 and at 2 threads, against its
% baseline and its peer, in one run:
%
%   octave-cli --norc --path build/mex --path build/bench-mex bench/octave_timing.m
%
% (tools/bench.sh --host builds what it needs and runs it.) Rows:
% - Halvery and Wendlow against their plain serial builds (plain_Halvery,
%   plain_Wendlow in build/bench-mex: the loops of tests/plain_*.h behind
%   the argument module), results checked equal before timing; Halvery's
%   peer is a vectorised Octave max over the shifted samples (the pooling
%   alone);
% - Fenwold, Porrith, Sabrel, Mundle against the vectorised Octave a user
%   would write instead (s*tanh(v/s); the same plus accumarray; a nearest-
%   neighbour warp by indexing), which computes the same kind of work, not
%   the same bits;
% - each otk_ function against the raw plug-in call it makes, maps given as
%   one numeric array and as a cell grid: what the layer's checks, option
%   parsing and new result arrays cost.
% Every timing repeats its call for some 20 ms; the calls of a row
% alternate for OTK_BENCH_ROUNDS rounds (default 5) and the table shows
% medians. Baselines and peers run on 1 thread. With OTK_BENCH_OUT set,
% the rows are also appended to that file, tab-separated (section, case,
% ours at 1 thread, at 2, baseline name, baseline, peer name, peer; seconds
% per call, empty where absent): the form tools/bench.sh collects.

1;

% bench_template, bench_grid
addpath(fullfile(fileparts(mfilename('fullpath')), 'shared'));

% Seconds per call of f(prepare()) at the given thread count, repeated for
% some 20 ms; prepare() runs outside the timing.
function t = perCall(f, prepare, threads)
  setenv('OTK_NUM_THREADS', num2str(threads));
  total = 0;
  calls = 0;
  while total < 0.02 || calls < 2
    a = prepare();
    started = tic;
    f(a);
    total = total + toc(started);
    calls = calls + 1;
  end
  t = total / calls;
end

function a = nothing()
  a = [];
end

% One row: ours at 1 and 2 threads, then the baseline and the peer (each
% {name, f, prepare} or {}), alternating for `rounds` rounds.
function row(out, section, name, ours, baseline, peer, rounds)
  runs = {{ours{:}, 1}, {ours{:}, 2}};
  if ~isempty(baseline)
    runs{end + 1} = {baseline{2:3}, 1};
  end
  if ~isempty(peer)
    runs{end + 1} = {peer{2:3}, 1};
  end
  for k = 1:numel(runs)
    runs{k}{1}(runs{k}{2}());   % once untimed: first-call costs out of the rounds
  end
  t = zeros(rounds, numel(runs));
  for r = 1:rounds
    for k = 1:numel(runs)
      t(r, k) = perCall(runs{k}{:});
    end
  end
  m = median(t, 1);
  cols = {'', '', '', ''};
  k = 3;
  if ~isempty(baseline)
    cols(1:2) = {baseline{1}, m(k)};
    k = k + 1;
  end
  if ~isempty(peer)
    cols(3:4) = {peer{1}, m(k)};
  end
  printf('%-44s %9.3f %9.3f', name, 1e3 * m(1:2));
  if ~isempty(baseline)
    printf(' %9.3f %6.3f %6.3f', 1e3 * cols{2}, m(1) / cols{2}, m(2) / cols{2});
  else
    printf(' %9s %6s %6s', '-', '-', '-');
  end
  if ~isempty(peer)
    printf(' %9.3f %6.3f  %s', 1e3 * cols{4}, m(1) / cols{4}, cols{3});
  end
  printf('\n');
  if ~isempty(out)
    fid = fopen(out, 'a');
    field = @(v) ifelse_(isempty(v), '', sprintf('%.9g', v));
    fprintf(fid, '%s\t%s\t%.9g\t%.9g\t%s\t%s\t%s\t%s\n', section, name, m(1), m(2), cols{1}, field(cols{2}), ...
            cols{3}, field(cols{4}));
    fclose(fid);
  end
end

function s = ifelse_(c, a, b)
  if c
    s = a;
  else
    s = b;
  end
end

function grid = zeroGrid(rows, cols, n)
  grid = cell(rows, cols);
  for k = 1:numel(grid)
    grid{k} = zeros(n);
  end
end

% The pooled responses of every element on every image, all images at once:
% the max over the shifted samples along the element's orientation and its
% neighbours +-oriRange.
function pooled = poolByIndexing(stack, tpl, shiftRange, oriRange)
  [sx, sy, N, nImages] = size(stack);
  pooled = -Inf(numel(tpl.orientation), nImages);
  for e = 1:numel(tpl.orientation)
    for d = -oriRange:oriRange
      o = mod(tpl.orientation(e) + d, N);
      a = pi * o / N;
      for s = -shiftRange:shiftRange
        px = min(max(tpl.row(e) + floor(s * cos(a) + 0.5), 1), sx);
        py = min(max(tpl.column(e) + floor(s * sin(a) + 0.5), 1), sy);
        pooled(e, :) = max(pooled(e, :), reshape(stack(px, py, o + 1, :), 1, nImages));
      end
    end
  end
end

% Nearest-neighbour rotation about the centre and shift, by indexing, of
% every map of an n x n x count stack, each its own transform; a stack of
% channels (Mundle) also moves its channels round by the rotation.
function R = warpByIndexing(S, N, dX, dY, dO, channels)
  [sx, sy, count, nImages] = size(S);
  [X, Y] = ndgrid(0:sx - 1, 0:sy - 1);
  cx = floor(sx / 2); cy = floor(sy / 2);
  R = zeros(size(S));
  for i = 1:max(count * ~channels, 1) * nImages
    c = cos(pi * dO(i) / N); s = sin(pi * dO(i) / N);
    xs = floor(c * (X - cx) - s * (Y - cy) + cx + dX(i) + 0.5);
    ys = floor(s * (X - cx) + c * (Y - cy) + cy + dY(i) + 0.5);
    inside = find(xs >= 0 & xs < sx & ys >= 0 & ys < sy);
    from = xs(inside) + 1 + sx * ys(inside);
    if channels
      for k = 1:count
        plane = zeros(sx, sy);
        source = S(:, :, mod(k - 1 + dO(i), count) + 1, i);
        plane(inside) = source(from);
        R(:, :, k, i) = plane;
      end
    else
      plane = zeros(sx, sy);
      source = S(:, :, i);
      plane(inside) = source(from);
      R(:, :, i) = plane;
    end
  end
end

function h = octaveDensity(M, margin, bw, nBins, s)
  Q = s * tanh(M / s);
  R = Q(margin + 1:end - margin - 1, margin + 1:end - margin - 1, :);
  b = min(max(floor(R(:) / bw), 0), nBins - 1);
  h = accumarray(b + 1, 1, [nBins, 1])' / (bw * numel(R));
end

% Halvery's 26 inputs on fresh results (a.renders, a.scores, a.pooled).
function results = halveryResults(c, K)
  results = struct('renders', zeros(c.n, c.n, c.nImages), 'scores', zeros(c.nImages, 1), ...
                   'pooled', zeros(c.nImages, K));
end

function halveryCall(plugin, c, a)
  tpl = c.tpl;
  plugin(c.nImages, c.N, c.stack, [], c.patchHalf, c.n, c.n, 0, tpl.orientation, tpl.row, tpl.column, tpl.weight, ...
         tpl.bias, c.patches, a.renders, c.shiftRange, c.oriRange, 1, numel(tpl.orientation), 0.9, a.scores, ...
         a.pooled, 0, 0, 0, 0);
end

function results = wendlowResults(c)
  results = struct('best', zeros(c.nImages, 1), 'dx', zeros(c.nImages, 1), 'dy', zeros(c.nImages, 1), ...
                   'dori', zeros(c.nImages, 1));
end

function wendlowCall(plugin, c, a)
  tpl = c.tpl;
  plugin(c.nImages, c.N, c.stack, [], 0, c.n, c.n, 0, tpl.orientation, tpl.row, tpl.column, tpl.weight, tpl.bias, ...
         [], [], c.shiftRange, c.oriRange, 1, numel(tpl.orientation), 0.9, a.best, [], 0, 0, 0, 0, a.dx, a.dy, a.dori);
end

% All three results, as the raw call writes them (with fewer outputs
% otk_score_template draws nothing).
function scoreAll(maps, tpl)
  [s, p, r] = otk_score_template(maps, tpl); %#ok<ASGLU>
end

function same = agree(call, results, product, plain)
  a = results(); b = results();
  call(product, a);
  call(plain, b);
  same = isequal(a, b);
end

% ------------------------------------------------------------------------

rand('state', 1);
rounds = str2double(getenv('OTK_BENCH_ROUNDS'));
if isnan(rounds)
  rounds = 5;
end
out = getenv('OTK_BENCH_OUT');
saved = getenv('OTK_NUM_THREADS');
plain = exist('plain_Halvery') == 3 && exist('plain_Wendlow') == 3;
printf('Octave %s, %d rounds, medians, ms per call; baselines and peers on 1 thread; load average %s', ...
       version(), rounds, fileread('/proc/loadavg'));
if ~plain
  printf('plain_Halvery, plain_Wendlow not on the path (build target bench_plugins, --path build/bench-mex)\n');
end
printf('%-44s %9s %9s %9s %6s %6s %9s %6s\n', 'case', '1 thread', '2 threads', 'baseline', '1t/b', '2t/b', ...
       'peer', '1t/p');

% Halvery and Wendlow: 32 images of 16 maps of 128^2 (64 MB), 60 elements,
% shiftRange 1, oriRange 1, Halvery with patchHalf 3; maps as one array.
c = struct('n', 128, 'N', 16, 'nImages', 32, 'shiftRange', 1, 'oriRange', 1, 'patchHalf', 3);
c.stack = rand(c.n, c.n, c.N, c.nImages);
c.tpl = bench_template(c.n, c.N, 60);
c.patches = rand(7, 7, c.N);
K = numel(c.tpl.orientation);
ours = {@(a) halveryCall(@Halvery, c, a), @() halveryResults(c, K)};
baseline = {};
if plain
  if ~agree(@(p, a) halveryCall(p, c, a), @() halveryResults(c, K), @Halvery, @plain_Halvery)
    error('octave_timing: Halvery and plain_Halvery disagree');
  end
  baseline = {'plain build', @(a) halveryCall(@plain_Halvery, c, a), @() halveryResults(c, K)};
end
row(out, 'host', 'Halvery, 32 x 16 x 128^2, 60 el., array', ours, baseline, ...
    {'Octave indexing pool', @(a) poolByIndexing(c.stack, c.tpl, 1, 1), @nothing}, rounds);
ours = {@(a) wendlowCall(@Wendlow, c, a), @() wendlowResults(c)};
baseline = {};
if plain
  if ~agree(@(p, a) wendlowCall(p, c, a), @() wendlowResults(c), @Wendlow, @plain_Wendlow)
    error('octave_timing: Wendlow and plain_Wendlow disagree');
  end
  baseline = {'plain build', @(a) wendlowCall(@plain_Wendlow, c, a), @() wendlowResults(c)};
end
row(out, 'host', 'Wendlow, 32 x 16 x 128^2, 60 el., array', ours, baseline, {}, rounds);

% The per-map plug-ins on 16 maps of 256^2 (Mundle: 4 stacks of them); the
% in-place ones saturate fresh copies, made outside the timing.
n = 256; N = 16;
M = 2.5 * rand(n, n, N) .* rand(n, n, N);
fresh = @() struct('maps', M .* 1);
row(out, 'host', 'Fenwold, 16 x 256^2, array', {@(a) Fenwold(1, N, a.maps, n, n, 1), fresh}, {}, ...
    {'Octave s*tanh(v/s)', @(a) 1 * tanh(M / 1), @nothing}, rounds);
row(out, 'host', 'Porrith, 16 x 256^2, array', ...
    {@(a) Porrith(1, N, a.maps, 2, n, n, 0.05, 20, zeros(1, 20), 1), fresh}, {}, ...
    {'Octave tanh + accumarray', @(a) octaveDensity(M, 2, 0.05, 20, 1), @nothing}, rounds);
dX = floor(rand(N, 1) * 7) - 3; dY = floor(rand(N, 1) * 7) - 3; dO = floor(rand(N, 1) * N);
row(out, 'host', 'Sabrel, 16 x 256^2, own transforms, array', ...
    {@(a) Sabrel(N, N, M, a.to, n, n, dX, dY, dO), @() struct('to', zeros(n, n, N))}, {}, ...
    {'Octave indexing', @(a) warpByIndexing(M, N, dX, dY, dO, false), @nothing}, rounds);
S = repmat(M, [1 1 1 4]);
row(out, 'host', 'Mundle, 4 x 16 x 256^2, array', ...
    {@(a) Mundle(4, N, S, a.to, n, n, dX(1:4), dY(1:4), dO(1:4)), @() struct('to', zeros(n, n, N, 4))}, {}, ...
    {'Octave indexing', @(a) warpByIndexing(S, N, dX, dY, dO, true), @nothing}, rounds);

% Each otk_ function against the raw plug-in call underneath, with its
% arguments prepared beforehand as an expert keeps them (fresh result
% arrays made outside the timing): maps as one array, then as cells.
grid = bench_grid(c.stack);
tpl = c.tpl;
for asCells = [false true]
  if asCells
    kind = 'cells'; maps = grid; renders = @() zeroGrid(c.nImages, 1, c.n); patches = repmat({1}, c.N, 1);
    mapsM = num2cell(M, [1 2])(:); toM = @() zeroGrid(N, 1, n);
    mapsS = bench_grid(S); toS = @() zeroGrid(4, N, n);
  else
    kind = 'array'; maps = c.stack; renders = @() zeros(c.n, c.n, c.nImages); patches = ones(1, 1, c.N);
    mapsM = M; toM = @() zeros(n, n, N);
    mapsS = S; toS = @() zeros(n, n, N, 4);
  end
  raw = @(a) Halvery(c.nImages, c.N, maps, {}, 0, c.n, c.n, 0, tpl.orientation, tpl.row, tpl.column, tpl.weight, ...
                     tpl.bias, patches, a.renders, 1, 1, 1, K, Inf, a.scores, a.pooled, 0, 0, 0, 0);
  prepare = @() struct('renders', {renders()}, 'scores', zeros(c.nImages, 1), 'pooled', zeros(c.nImages, K));
  row(out, 'otk', ['otk_score_template, 32 x 16 x 128^2, ' kind], ...
      {@(a) scoreAll(maps, tpl), @nothing}, {'raw Halvery', raw, prepare}, {}, rounds);
  raw = @(a) Wendlow(c.nImages, c.N, maps, {}, 0, c.n, c.n, 0, tpl.orientation, tpl.row, tpl.column, tpl.weight, ...
                     tpl.bias, {}, {}, 1, 1, 1, K, Inf, a.best, 0, 0, 0, 0, 0, a.dx, a.dy, a.dori);
  row(out, 'otk', ['otk_search_transform, 32 x 16 x 128^2, ' kind], ...
      {@(a) otk_search_transform(maps, tpl, 'ShiftRange', 1, 'OriRange', 1), @nothing}, ...
      {'raw Wendlow', raw, @() wendlowResults(c)}, {}, rounds);
  row(out, 'otk', ['otk_warp_maps, 16 x 256^2, ' kind], {@(a) otk_warp_maps(mapsM, dX, dY, dO, N), @nothing}, ...
      {'raw Sabrel', @(a) Sabrel(N, N, mapsM, a.to, n, n, dX, dY, dO), @() struct('to', {toM()})}, {}, rounds);
  row(out, 'otk', ['otk_warp_stacks, 4 x 16 x 256^2, ' kind], ...
      {@(a) otk_warp_stacks(mapsS, dX(1:4), dY(1:4), dO(1:4)), @nothing}, ...
      {'raw Mundle', @(a) Mundle(4, N, mapsS, a.to, n, n, dX(1:4), dY(1:4), dO(1:4)), @() struct('to', {toS()})}, ...
      {}, rounds);
  if asCells
    copy = @() struct('maps', {cellfun(@(x) x .* 1, mapsS, 'UniformOutput', false)});
  else
    copy = @() struct('maps', mapsS .* 1);
  end
  row(out, 'otk', ['otk_saturate, 4 x 16 x 256^2, ' kind], {@(a) otk_saturate(mapsS, 0.7), @nothing}, ...
      {'raw Fenwold', @(a) Fenwold(4, N, a.maps, n, n, 0.7), copy}, {}, rounds);
  row(out, 'otk', ['otk_response_density, 4 x 16 x 256^2, ' kind], ...
      {@(a) otk_response_density(mapsS, 'Margin', 2, 'BinWidth', 0.05), @nothing}, ...
      {'raw Porrith', @(a) Porrith(4, N, mapsS, 2, n, n, 0.05, 20, zeros(1, 20), 1), @nothing}, {}, rounds);
end

% The host's own price for a new array of the size otk_warp_stacks and
% otk_saturate return (32 MB: fresh pages, each a page fault), which the raw
% calls, writing into arrays made before, do not pay.
row(out, 'otk', 'the host''s zeros(256, 256, 16, 4)', {@(a) zeros(n, n, N, 4), @nothing}, {}, {}, rounds);

if isempty(saved)
  unsetenv('OTK_NUM_THREADS');
else
  setenv('OTK_NUM_THREADS', saved);
end
