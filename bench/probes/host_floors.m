% HOST_FLOORS  Where Halvery and the back-to-back calls stand against what
% no kernel can take away, through the host. Question: how much of a call is
% the host's and the reading of the samples, and what can a second core
% give? Figures: the "floor", "+lines", "host" and "net" columns of Halvery
% against the plain build, and the back-to-back gains beside the cores'
% ("cores", "memory", "wide", "paired", "both", "of both") in
% docs/performance.md.
%
%   cmake --build build -j2 --target octave_plugins bench_plugins
%   T="octave-cli --norc --path build/mex --path build/bench-mex bench/probes/host_floors.m"
%   OTK_TIMING=pairs OTK_NUM_THREADS=1 taskset -c 0 $T      Halvery cases A, A0, B, B0 against plain, with floors
%   OTK_TIMING=series OTK_TIMING_LARGE=1 OTK_NUM_THREADS=1 taskset -c 0 $T   8 to 512 images a call
%   OTK_TIMING=backtoback $T                                loops of calls: 2 threads against 1
%
% The probes (bench/probes/floor_*.cpp, built into build/bench-mex by the
% target bench_plugins): floor_Halvery, the host's part of a Halvery call
% and the reading of its samples, nothing else, where a kernel that
% computed nothing would stand (with a 27th input, also every render line a
% drawing raises); floor_host, what the host charges for the call itself
% before any plug-in reads an argument; floor_threads, as much work as a
% plug-in's call perfectly divided; floor_core, which holds the host's
% thread on one core.
%
% "pairs": each case as a product call right after a plain call, nothing
% between, and floor_Halvery so in blocks of its own. "series": Halvery and
% Wendlow against the plain plug-ins on 8 to 128 images a call (512 with
% OTK_TIMING_LARGE=1: 1 GB of maps, held once at a time), maps as cell
% grids and as one array, 5 rounds, medians (wall time, and process CPU
% time per image: at 1 thread the steadier figure on a busy machine), with
% floor_Halvery and floor_host in the same alternation. "backtoback": every
% plug-in called back to back in a loop, as a learning loop calls them,
% with calls of a few tenths of a millisecond: per call at 1 thread, at 2
% threads whose helpers sleep between calls (OTK_SPIN_US=0), and at 2
% threads whose helpers stay awake for the default spin time, with the gain
% of each over 1 thread, and beside them the gains of floor_threads and
% floor_core (see loopRow). These rows set OTK_NUM_THREADS and OTK_SPIN_US
% themselves. OTK_TIMING is a comma-separated list; all three by default.

1;

% Seconds per call of f called `calls` times in a loop, with the given
% thread count and spin time ('' for the default).
% OTK_NUM_THREADS and OTK_SPIN_US back as they were: saved holds their
% values (getenv) from before a part set them.
function restoreSettings(saved)
  names = {'OTK_NUM_THREADS', 'OTK_SPIN_US'};
  for k = 1:2
    if isempty(saved{k})
      unsetenv(names{k});
    else
      setenv(names{k}, saved{k});
    end
  end
end

function t = loopTime(f, calls, threads, spin)
  setenv('OTK_NUM_THREADS', num2str(threads));
  if isempty(spin)
    unsetenv('OTK_SPIN_US');
  else
    setenv('OTK_SPIN_US', num2str(spin));
  end
  f();
  tic;
  for k = 1:calls
    f();
  end
  t = toc / calls;
end

% One back-to-back row: the three settings in alternation for `rounds`
% rounds, medians in ms per call, and the median gains over 1 thread. When
% floor_threads is on the path, each round also times it at 1 thread and
% at 2 (default spin), with as much work as the plug-in's 1-thread call,
% once computing only ("cores": what the processor gave a perfectly divided
% call in these rounds) and once reading `data`, the plug-in's maps, again
% and again ("memory": what the way to memory gave), and once as eight
% chains at once ("wide": what the processor gave work that keeps its
% arithmetic busy, which a guest sharing the physical core would slow more
% than "cores").
%
% When floor_core is on the path (and the process has 2 cores or more), the
% row then times the plug-in in 60 groups of 10 calls each: at 1 thread, at
% 2 (default spin), and at 1 thread held on each of the first two cores in
% turn. "paired" is the median
% of the groups' gains; "both" the median of what the two cores gave
% together in each group, t1 * (1/t_core0 + 1/t_core1), the gain of a call
% that divides perfectly and has no serial part; "of both" the median of
% each group's gain over its "both". On this virtual machine each core's
% speed for a plug-in's work moves on its own, up to 1.8x, in spells of a
% tenth of a second to seconds; a group takes some 20 ms, so its four
% timings mostly fall in one spell, while the rounds above are a second
% apart and the probes' loops of a few instructions do not see the spells.
function loopRow(name, f, calls, rounds, data)
  probing = exist('floor_threads') == 3;
  if probing
    sink = zeros(16, 1);
    one = loopTime(f, calls, 1, 0);
    steps = 2000;
    steps = max(1, round(steps * one / loopTime(@() floor_threads(16, steps, sink), calls, 1, 0)));
    passes = 4;
    passes = max(1, round(passes * one / loopTime(@() floor_threads(16, passes, sink, data), calls, 1, 0)));
    wide = 500;
    wide = max(1, round(wide * one / loopTime(@() floor_threads(16, wide, sink, [], 1), calls, 1, 0)));
    probes = {@() floor_threads(16, steps, sink), @() floor_threads(16, passes, sink, data), ...
              @() floor_threads(16, wide, sink, [], 1)};
  end
  t = zeros(rounds, 3);
  p = ones(rounds, 6);
  for r = 1:rounds
    t(r, 1) = loopTime(f, calls, 1, 0);
    t(r, 2) = loopTime(f, calls, 2, 0);
    t(r, 3) = loopTime(f, calls, 2, '');
    if probing
      for k = 1:3
        p(r, 2 * k - 1) = loopTime(probes{k}, calls / 2, 1, 0);
        p(r, 2 * k) = loopTime(probes{k}, calls / 2, 2, '');
      end
    end
  end
  % Gains round by round, then their medians: a slow spell of the host
  % that falls on one round then weighs on both of its timings alike.
  m = median(t, 1);
  printf('%-48s %8.3f %8.3f %8.3f %7.2f %7.2f', name, 1e3 * m, median(t(:, 1) ./ t(:, 2)), median(t(:, 1) ./ t(:, 3)));
  if probing
    printf(' %7.2f %7.2f %7.2f', median(p(:, 1) ./ p(:, 2)), median(p(:, 3) ./ p(:, 4)), median(p(:, 5) ./ p(:, 6)));
  end
  if exist('floor_core') == 3 && nproc >= 2
    groups = 60;
    block = 10;
    g = zeros(groups, 4);
    for r = 1:groups
      g(r, 1) = loopTime(f, block, 1, 0);
      g(r, 2) = loopTime(f, block, 2, '');
      % The helpers sleep first (spin 2 ms): one still awake on the core the
      % caller is held on would take turns with it and, preempted, make
      % every wait of its plug-in sleep at once for a while (a busy core).
      % Only 1-thread calls run while the caller is held, so no helper
      % starts held on its core.
      pause(0.005);
      for k = 0:1
        floor_core(k);
        g(r, 3 + k) = loopTime(f, block, 1, 0);
      end
      floor_core(-1);
    end
    gain = g(:, 1) ./ g(:, 2);
    both = g(:, 1) .* (1 ./ g(:, 3) + 1 ./ g(:, 4));
    printf(' %7.2f %7.2f %7.2f', median(gain), median(both), median(gain ./ both));
  end
  printf('\n');
end

% Every entry of a grid of maps (cells or one array) as one column.
function v = mapsOf(grid)
  if iscell(grid)
    v = cell2mat(cellfun(@(m) m(:), grid(:), 'UniformOutput', false));
  else
    v = grid(:);
  end
end


% Halvery and Wendlow against their plain plug-ins. A template of nElements
% elements at integer positions inside a disc of radius 0.4*n about the
% centre, orientations uniform, weights 0.5 to 2, biases 0 to 0.2.
function t = randomTemplate(n, N, nElements)
  r = 0.4 * n * sqrt(rand(nElements, 1));
  a = 2 * pi * rand(nElements, 1);
  t.x = round(n / 2 + r .* cos(a));
  t.y = round(n / 2 + r .* sin(a));
  t.ori = floor(rand(nElements, 1) * N);
  t.w = 0.5 + 1.5 * rand(nElements, 1);
  t.b = 0.2 * rand(nElements, 1);
end

% nImages x N maps of n x n, uniform in [0, 1): a cell grid, or the
% n x n x N x nImages array the plug-ins also take.
function maps = randomMaps(n, N, nImages, asArray)
  if asArray
    maps = rand(n, n, N, nImages);
  else
    maps = cell(nImages, N);
    for k = 1:numel(maps)
      maps{k} = rand(n);
    end
  end
end

function list = zeroMaps(n, count, asArray)
  if asArray
    list = zeros(n, n, count);
  else
    list = cell(count, 1);
    for k = 1:count
      list{k} = zeros(n);
    end
  end
end

function p = randomPatches(patchHalf, N, asArray)
  side = 2 * patchHalf + 1;
  if asArray
    p = rand(side, side, N);
  else
    p = cell(N, 1);
    for k = 1:N
      p{k} = rand(side);
    end
  end
end

% One Halvery-shaped call of plugin on fresh zero render maps, scores and
% pooled values (made before the clock starts); the results come back.
% Further inputs go to the plug-in after the 26 (floor_Halvery's 27th).
function [t, out, cpu] = halveryCall(plugin, c, maps, patches, asArray, varargin)
  nImages = c.nImages;
  nElements = numel(c.tpl.ori);
  renders = zeroMaps(c.n, nImages, asArray);
  scores = zeros(nImages, 1);
  pooled = zeros(nImages * nElements, 1);
  c0 = cputime;
  tic;
  plugin(nImages, c.N, maps, [], c.patchHalf, c.n, c.n, 0, c.tpl.ori, c.tpl.x, c.tpl.y, c.tpl.w, c.tpl.b, ...
         patches, renders, c.shiftRange, c.oriRange, 1, nElements, 0.9, scores, pooled, 0, 0, 0, 0, varargin{:});
  t = toc;
  cpu = cputime - c0;
  out = {renders, scores, pooled};
end

function [t, out, cpu] = wendlowCall(plugin, c, maps)
  nImages = c.nImages;
  best = zeros(nImages, 1); dX = zeros(nImages, 1); dY = zeros(nImages, 1); dOri = zeros(nImages, 1);
  c0 = cputime;
  tic;
  plugin(nImages, c.N, maps, [], 0, c.n, c.n, 0, c.tpl.ori, c.tpl.x, c.tpl.y, c.tpl.w, c.tpl.b, ...
         [], [], c.shiftRange, c.oriRange, 1, numel(c.tpl.ori), 0.9, best, [], 0, 0, 0, 0, dX, dY, dOri);
  t = toc;
  cpu = cputime - c0;
  out = {best, dX, dY, dOri};
end

% Product and plain call in alternation, 5 rounds of as many call pairs as
% take some 0.2 s; medians of the per-call times in ms, their ratio, and per
% image in us. A product result unequal to the plain one is reported, not
% timed over. For Halvery, floor_Halvery (the host's part of the call and
% the reading of its samples, nothing else) is called in the same
% alternation when it is on the path: its ratio to plain is where a kernel
% that computed nothing would stand. So is floor_host (a plug-in that takes
% the same arguments and does nothing): what the host charges for the call
% itself, which both builds pay, and the ratio of the two calls without it.
function compareRow(name, c, asArray, wendlow)
  rounds = 5;
  maps = randomMaps(c.n, c.N, c.nImages, asArray);
  tp = zeros(rounds, 1);
  tq = zeros(rounds, 1);
  tf = zeros(rounds, 1);
  th = zeros(rounds, 1);
  withFloor = false;
  withHost = exist('floor_host') == 3;
  if wendlow
    call = @(plugin) wendlowCall(plugin, c, maps);
    product = @Wendlow; plain = @plain_Wendlow;
  else
    patches = randomPatches(c.patchHalf, c.N, asArray);
    call = @(plugin) halveryCall(plugin, c, maps, patches, asArray);
    product = @Halvery; plain = @plain_Halvery;
    withFloor = exist('floor_Halvery') == 3;
  end
  [t1, a] = call(product);
  [t2, b] = call(plain);
  if ~isequal(a, b)
    printf('%-50s product and plain results differ\n', name);
    return;
  end
  pairs = max(1, ceil(0.2 / (t1 + t2)));
  cp = zeros(rounds, 1);
  cq = zeros(rounds, 1);
  for r = 1:rounds
    for k = 1:pairs
      [t, ~, cpu] = call(product);
      tp(r) = tp(r) + t / pairs;
      cp(r) = cp(r) + cpu / pairs;
      [t, ~, cpu] = call(plain);
      tq(r) = tq(r) + t / pairs;
      cq(r) = cq(r) + cpu / pairs;
      if withFloor
        tf(r) = tf(r) + call(@floor_Halvery) / pairs;
      end
      if withHost
        th(r) = th(r) + call(@floor_host) / pairs;
      end
    end
  end
  if asArray
    kind = 'array';
  else
    kind = 'cells';
  end
  floorRatio = '     -';
  if withFloor
    floorRatio = sprintf('%6.3f', median(tf) / median(tq));
  end
  hostRatios = '     -      -';
  if withHost
    hostRatios = sprintf('%6.3f %6.3f', median(th) / median(tq), median((tp - th) ./ (tq - th)));
  end
  printf('%-46s %-5s %9.2f %9.2f %7.3f %9.1f %9.1f %7.3f %s %s\n', name, kind, 1e3 * median(tp), 1e3 * median(tq), ...
         median(tp) / median(tq), 1e6 * median(cp) / c.nImages, 1e6 * median(cq) / c.nImages, median(cp) / median(cq), ...
         floorRatio, hostRatios);
end

% Cases A, A0, B, B0 with nothing but the product and the plain build in
% the alternation (a third plug-in between them would take the turn at
% staying awake from the product's helpers): per round a block of product and plain calls in turn, then a block of
% floor_Halvery and plain calls, then one of floor_Halvery touching the
% render lines too (its 27th input) and plain calls; 8 rounds of 15 pairs
% each (a first pair untimed), medians of the per-round ratios. Arrays.
function pairRow(name, c)
  rounds = 8;
  pairs = 15;
  maps = randomMaps(c.n, c.N, c.nImages, true);
  patches = randomPatches(c.patchHalf, c.N, true);
  first = {@Halvery, @floor_Halvery, @floor_Halvery};
  extra = {{}, {}, {1}};
  t = zeros(rounds, 3);
  q = zeros(rounds, 3);
  for r = 1:rounds
    for k = 1:3
      for j = 0:pairs
        a = halveryCall(first{k}, c, maps, patches, true, extra{k}{:});
        b = halveryCall(@plain_Halvery, c, maps, patches, true);
        if j > 0
          t(r, k) = t(r, k) + a;
          q(r, k) = q(r, k) + b;
        end
      end
    end
  end
  ratio = median(t ./ q, 1);
  printf('%-46s %9.2f %9.2f %7.3f %7.3f %7.3f\n', name, 1e3 * median(t(:, 1)) / pairs, 1e3 * median(q(:, 1)) / pairs, ratio);
end

function c = templateCase(n, N, nImages, nElements, shiftRange, oriRange, patchHalf)
  c = struct('n', n, 'N', N, 'nImages', nImages, 'shiftRange', shiftRange, 'oriRange', oriRange, ...
             'patchHalf', patchHalf);
  c.tpl = randomTemplate(n, N, nElements);
end

function templateTiming(parts)
  wantSeries = any(strcmp(parts, 'series'));
  wantPairs = any(strcmp(parts, 'pairs'));
  if ~(wantSeries || wantPairs)
    return;
  end
  if exist('plain_Halvery') ~= 3 || exist('plain_Wendlow') ~= 3
    printf('plain_Halvery, plain_Wendlow not on the path (build target bench_plugins, --path build/bench-mex)\n');
    return;
  end
  N = 16;
  rand('state', 2);
  if wantPairs
    if exist('floor_Halvery') ~= 3
      printf('floor_Halvery not on the path (build target bench_plugins, --path build/bench-mex)\n');
    else
      printf('\nHalvery right after the plain build, nothing between: ms per call, medians of 8 blocks (arrays)\n');
      printf('(floor: floor_Halvery / plain; +lines: also fetching and raising the render lines a drawing raises)\n');
      printf('%-46s %9s %9s %7s %7s %7s\n', 'case', 'product', 'plain', 'ratio', 'floor', '+lines');
      pairRow('A: Halvery 32x128^2, 60 el, sR 1, oR 1, ph 3', templateCase(128, N, 32, 60, 1, 1, 3));
      pairRow('A0: the same, patchHalf 0', templateCase(128, N, 32, 60, 1, 1, 0));
      pairRow('B: Halvery 16x256^2, 100 el, sR 2, oR 1, ph 5', templateCase(256, N, 16, 100, 2, 1, 5));
      pairRow('B0: the same, patchHalf 0', templateCase(256, N, 16, 100, 2, 1, 0));
    end
  end
  if ~wantSeries
    return;
  end
  printf('\nproduct vs plain serial plug-in, 5 rounds, medians: wall ms per call and their ratio, then\n');
  printf('process CPU us per image (cputime: all threads; steadier at 1 thread on a busy machine) and ratio;\n');
  printf('floor: floor_Halvery / plain, the host''s part and the reading of the samples alone;\n');
  printf('host: floor_host / plain, what the host charges for the call itself; net: (product - host) / (plain - host)\n');
  printf('%-46s %-5s %9s %9s %7s %9s %9s %7s %6s %6s %6s\n', 'case', 'maps', 'product', 'plain', 'ratio', 'cpu/img', ...
         'plain', 'ratio', 'floor', 'host', 'net');
  if wantSeries
    counts = [8 32 128];
    if strcmp(getenv('OTK_TIMING_LARGE'), '1')
      counts(end + 1) = 512;
    end
    for wendlow = [false true]
      for nImages = counts
        c = templateCase(128, N, nImages, 60, 1, 1, 3);
        if wendlow
          name = sprintf('Wendlow %dx128^2, 60 el, sR 1, oR 1', nImages);
        else
          name = sprintf('Halvery %dx128^2, 60 el, sR 1, oR 1, ph 3', nImages);
        end
        for asArray = [false true]
          compareRow(name, c, asArray, wendlow);
        end
      end
    end
  end
end

parts = getenv('OTK_TIMING');
if isempty(parts)
  parts = 'pairs,series,backtoback';
end
parts = strsplit(parts, ',');
N = 16;
rand('state', 1); randn('state', 1);
threads = getenv('OTK_NUM_THREADS');
if isempty(threads)
  threads = 'all cores';
end
load = fileread('/proc/loadavg');
printf('Octave %s; plug-in threads: %s; load average %s', version(), threads, load);

if any(strcmp(parts, 'backtoback'))
  % Back to back: calls of about 0.3 to 0.5 ms on one thread of an idle core
  % (sizes raised as the kernels got faster, to stay at 0.3 ms or more),
  % with their maps as cell grids, then as the numeric arrays the plug-ins
  % also take: the host's work on each cell stays on the caller.
  saved = {getenv('OTK_NUM_THREADS'), getenv('OTK_SPIN_US')};
  calls = 200;
  loopRounds = 9;
  printf('\nBack to back, %d calls per round, medians of %d rounds; default spin %d us\n', calls, loopRounds, ...
         otk_threads('spin', []));
  printf('%-48s %8s %8s %8s %7s %7s %7s %7s %7s %7s %7s %7s\n', 'case (ms per call)', '1 thr', '2 spin0', '2 spin', ...
         'gain0', 'gain', 'cores', 'memory', 'wide', 'paired', 'both', 'of both');
  n = 72;
  fm = cell(1, N);
  for k = 1:N
    fm{k} = 2.5 * rand(n) .* rand(n);
  end
  n = 96;
  sm = cell(1, N); sr = cell(1, N);
  for k = 1:N
    sm{k} = rand(n); sr{k} = zeros(n);
  end
  dX = floor(rand(N, 1) * 7) - 3; dY = floor(rand(N, 1) * 7) - 3; dOri = floor(rand(N, 1) * N);
  nStacks = 7; n = 64;
  ms = cell(nStacks, N); mr = cell(nStacks, N);
  for k = 1:numel(ms)
    ms{k} = rand(n); mr{k} = zeros(n);
  end
  nImages = 16; n = 48; Nh = 4;
  hm = cell(nImages, Nh);
  for k = 1:numel(hm)
    hm{k} = rand(n) .^ 4;
  end
  patches = {rand(5), rand(5), rand(5), rand(5)};
  renders = cell(nImages, 1);   % each its own: shared render maps keep Halvery serial
  for k = 1:nImages
    renders{k} = zeros(n);
  end
  scores = zeros(nImages, 1);
  templates = cell(1, 2);
  counts = [600 180];   % Halvery, then Wendlow
  for t = 1:2
    nElements = counts(t);
    templates{t} = struct('n', nElements, 'ori', floor(rand(1, nElements) * Nh), ...
                          'x', 5 + floor(rand(1, nElements) * (n - 9)), 'y', 5 + floor(rand(1, nElements) * (n - 9)), ...
                          'w', randn(1, nElements), 'b', rand(1, nElements) / 4);
  end
  for asArray = [false true]
    if asArray
      % The same maps, in the layouts readMapGrid takes: a list of maps as
      % rows x cols x count, a grid of R x C cells as rows x cols x C x R.
      fm = cat(3, fm{:}); sm = cat(3, sm{:}); sr = cat(3, sr{:});
      ms = permute(reshape(cat(3, ms{:}), 64, 64, nStacks, N), [1 2 4 3]); mr = zeros(size(ms));
      hm = permute(reshape(cat(3, hm{:}), n, n, nImages, Nh), [1 2 4 3]);
      patches = cat(3, patches{:}); renders = cat(3, renders{:});
      kind = 'array';
    else
      kind = 'cells';
    end
    loopRow(sprintf('Fenwold, 72^2 x %d, %s', N, kind), @() Fenwold(1, N, fm, 72, 72, 1), calls, loopRounds, mapsOf(fm));
    h = zeros(1, 20);
    loopRow(sprintf('Porrith, 72^2 x %d, %s', N, kind), @() Porrith(1, N, fm, 2, 72, 72, 0.05, 20, h, 1), calls, ...
            loopRounds, mapsOf(fm));
    loopRow(sprintf('Sabrel, own transforms, 96^2 x %d, %s', N, kind), @() Sabrel(N, N, sm, sr, 96, 96, dX, dY, dOri), ...
            calls, loopRounds, mapsOf(sm));
    loopRow(sprintf('Mundle, %d stacks of 64^2 x %d, %s', nStacks, N, kind), ...
            @() Mundle(nStacks, N, ms, mr, 64, 64, dX(1:nStacks), dY(1:nStacks), dOri(1:nStacks)), calls, loopRounds, ...
            mapsOf(ms));
    for t = 1:2
      tp = templates{t};
      label = sprintf('%d images of %d^2 x %d, %d el., %s', nImages, n, Nh, tp.n, kind);
      if t == 1
        pooled = zeros(nImages, tp.n);
        loopRow(['Halvery, ' label], ...
                @() Halvery(nImages, Nh, hm, {}, 2, n, n, 0, tp.ori, tp.x, tp.y, tp.w, tp.b, patches, renders, 2, 1, 1, ...
                            tp.n, 0.9, scores, pooled, 0, 0, 0, 0), calls, loopRounds, mapsOf(hm));
      else
        wo = {zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1)};
        loopRow(['Wendlow, ' label], ...
                @() Wendlow(nImages, Nh, hm, {}, 0, n, n, 0, tp.ori, tp.x, tp.y, tp.w, tp.b, {}, {}, 2, 1, 1, tp.n, 0.9, ...
                            wo{1}, 0, 0, 0, 0, 0, wo{2}, wo{3}, wo{4}), calls, loopRounds, mapsOf(hm));
      end
    end
  end
  restoreSettings(saved);
end

templateTiming(parts);
