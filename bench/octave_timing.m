% OCTAVE_TIMING  Times the plug-ins through the host: against what an Octave
% user would run instead (vectorised Octave of the same work), and Halvery
% and Wendlow against plain serial builds of their loops loaded as
% plug-ins (plain_Halvery, plain_Wendlow in build/bench-mex), and beside
% them floor_Halvery (also there): the host's part of a Halvery call and the
% reading of its samples, nothing else, where a kernel that computed
% nothing would stand; and floor_host, what the host charges for the call
% itself before any plug-in reads an argument.
%
%   octave-cli --norc --path build/mex --path build/bench-mex bench/octave_timing.m
%
% Rows: Fenwold against s*tanh(v/s) over the stacked maps; Porrith against
% the same plus accumarray and histc over the region; Sabrel and Mundle
% against a nearest-neighbour warp by indexing (and imrotate when the image
% package loads); Halvery against a vectorised max over the shifted samples
% of every element across all images. The Octave equivalents compute the
% same kind of work, not the plug-ins' exact bits. Each pair runs in
% alternation for ROUNDS rounds; the table shows medians and their ratio.
% OTK_NUM_THREADS, when set, is the plug-ins' thread count.
%
% Then Halvery and Wendlow against the plain plug-ins on big batches (the
% same arguments; results checked equal), with the response and render
% maps passed as cell grids and as one double array each, 5 rounds,
% medians (wall time, and process CPU time per image: at 1 thread the
% steadier figure on a busy machine). OTK_TIMING picks the parts: "vectorised", "configs" (Halvery
% cases A and B, and with patchHalf 0), "loops" (the same cases, arrays, as
% loops of calls: a loop of product calls on 1 thread, one on all cores,
% then one of plain calls, per round), "pairs" (the same cases, arrays,
% each product call right after a plain call and no other plug-in between,
% and floor_Halvery so in blocks of its own), "bound" (the same cases on a batch
% whose images all hold the same maps, to part memory from the rest),
% "series" (8 to 128 images per call, Halvery and Wendlow), "backtoback"
% (below), a comma-separated list, or all of them (the default). OTK_TIMING_LARGE=1 adds 512 images to the series: 1 GB of
% maps, held once at a time (arrays are cleared between cases).
%
% Then every plug-in called back to back in a loop, as a learning loop
% calls them, with calls of a few tenths of a millisecond: per call at 1
% thread, at 2 threads whose helpers sleep between calls (OTK_SPIN_US=0),
% and at 2 threads whose helpers stay awake for the default spin time, with
% the gain of each over 1 thread; with build/bench-mex on the path, also the
% gains floor_threads got in the same rounds with as much work and no serial
% part: a chain of computing that waits on each step ("cores"), reading the
% plug-in's maps ("memory"), and eight chains at once that keep the
% arithmetic busy as a kernel does ("wide"); with floor_core (also there),
% the plug-in's own gains in short groups of calls beside its 1-thread call
% held on each core in turn, and what the two cores gave together in the
% same groups ("paired", "both", "of both"; see loopRow).
% These rows set OTK_NUM_THREADS and OTK_SPIN_US themselves.
%
% "against" (not in the default list) times Halvery or Wendlow against an
% earlier build of itself (OTK_AGAINST; see againstTiming below):
%
%   mkdir /tmp/old && cp <earlier build>/mex/Wendlow.mex /tmp/old/WendlowOld.mex
%   OTK_TIMING=against OTK_AGAINST=WendlowOld OTK_NUM_THREADS=1 taskset -c 0 octave-cli --norc \
%       --path build/mex --path build/bench-mex --path /tmp/old bench/octave_timing.m

1;

function t = timed(f)
  tic;
  f();
  t = toc;
end

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

function row(name, plugin, octave, rounds)
  tp = zeros(rounds, 1);
  to = zeros(rounds, 1);
  for r = 1:rounds
    tp(r) = plugin();
    to(r) = octave();
  end
  printf('%-44s %10.3f %10.3f %8.2f\n', name, 1e3 * median(tp), 1e3 * median(to), median(to) / median(tp));
end

% The plug-in call on fresh copies of the maps (copying is not timed).
function t = fenwoldCall(maps, n, s)
  m = cellfun(@(x) x + 0, maps, 'UniformOutput', false);
  t = timed(@() Fenwold(rows(m), columns(m), m, n, n, s));
end

function t = porrithCall(maps, n, margin, bw, nBins, s)
  m = cellfun(@(x) x + 0, maps, 'UniformOutput', false);
  h = zeros(1, nBins);
  t = timed(@() Porrith(rows(m), columns(m), m, margin, n, n, bw, nBins, h, s));
end

function h = octaveDensity(M, margin, bw, nBins, s, useHistc)
  Q = s * tanh(M / s);
  R = Q(margin + 1:end - margin - 1, margin + 1:end - margin - 1, :);
  if useHistc
    h = histc(min(R(:), (nBins - 1) * bw), (0:nBins - 1) * bw)' / (bw * numel(R));
  else
    b = min(max(floor(R(:) / bw), 0), nBins - 1);
    h = accumarray(b + 1, 1, [nBins, 1])' / (bw * numel(R));
  end
end

% Nearest-neighbour rotation about the centre and shift, by indexing.
function R = warpByIndexing(S, angle, dx, dy)
  [sx, sy] = size(S);
  [X, Y] = ndgrid(0:sx - 1, 0:sy - 1);
  cx = floor(sx / 2); cy = floor(sy / 2);
  c = cos(angle); s = sin(angle);
  xs = floor(c * (X - cx) - s * (Y - cy) + cx + dx + 0.5);
  ys = floor(s * (X - cx) + c * (Y - cy) + cy + dy + 0.5);
  inside = xs >= 0 & xs < sx & ys >= 0 & ys < sy;
  R = zeros(sx, sy);
  R(inside) = S(xs(inside) + 1 + sx * ys(inside));
end

function R = warpStackByIndexing(S3, angle, dx, dy, channelShift)
  [sx, sy, N] = size(S3);
  [X, Y] = ndgrid(0:sx - 1, 0:sy - 1);
  cx = floor(sx / 2); cy = floor(sy / 2);
  c = cos(angle); s = sin(angle);
  xs = floor(c * (X - cx) - s * (Y - cy) + cx + dx + 0.5);
  ys = floor(s * (X - cx) + c * (Y - cy) + cy + dy + 0.5);
  inside = find(xs >= 0 & xs < sx & ys >= 0 & ys < sy);
  from = xs(inside) + 1 + sx * ys(inside);
  R = zeros(sx, sy, N);
  for k = 1:N
    src = mod(k - 1 + channelShift, N);
    plane = zeros(sx, sy);
    Sk = S3(:, :, src + 1);
    plane(inside) = Sk(from);
    R(:, :, k) = plane;
  end
end

% The pooled responses of every element on every image: the max over
% 2*shiftRange+1 samples along the element's orientation and its
% neighbours +-oriRange, all images at once from an nRows x nCols x nImages
% stack per orientation.
function pooled = poolByIndexing(stacks, N, ori, x, y, shiftRange, oriRange)
  nImages = size(stacks{1}, 3);
  pooled = -Inf(numel(ori), nImages);
  [sx, sy, ~] = size(stacks{1});
  for e = 1:numel(ori)
    for d = -oriRange:oriRange
      o = mod(ori(e) + d, N);
      a = pi * o / N;
      for s = -shiftRange:shiftRange
        px = min(max(x(e) + floor(s * cos(a) + 0.5), 1), sx);
        py = min(max(y(e) + floor(s * sin(a) + 0.5), 1), sy);
        pooled(e, :) = max(pooled(e, :), reshape(stacks{o + 1}(px, py, :), 1, nImages));
      end
    end
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

% What memory costs Halvery through the host, and what is left to the
% kernel: the call on its batch ("cold": every image its own maps, far
% beyond the caches at 32 images of 16 maps of 128^2), on the same grid
% whose every image holds the first image's maps ("warm": the same work on
% samples the caches hold), and with no element (the host's own cost of the
% call: reading the grid, the results). Both builds read the same samples;
% cold - warm is what waiting on memory costs each. The floor is the ratio
% to plain of a kernel that computed nothing: (plain's memory + the host's
% cost) / plain cold. Cell grids, as aliasing needs them; 1 thread.
function boundRow(name, c)
  rounds = 5;
  cold = randomMaps(c.n, c.N, c.nImages, false);
  warm = cold;
  for i = 2:c.nImages
    warm(i, :) = cold(1, :);
  end
  patches = randomPatches(c.patchHalf, c.N, false);
  empty = c;
  empty.tpl = structfun(@(v) v([]), c.tpl, 'UniformOutput', false);
  calls = {@() halveryCall(@Halvery, c, cold, patches, false), @() halveryCall(@Halvery, c, warm, patches, false), ...
           @() halveryCall(@plain_Halvery, c, cold, patches, false), ...
           @() halveryCall(@plain_Halvery, c, warm, patches, false), ...
           @() halveryCall(@Halvery, empty, cold, patches, false)};
  t = zeros(rounds, numel(calls));
  for k = 1:numel(calls)
    calls{k}();
  end
  for r = 1:rounds
    for k = 1:numel(calls)
      for j = 1:9
        t(r, k) = t(r, k) + calls{k}() / 9;
      end
    end
  end
  m = 1e3 * median(t, 1);
  printf('%-46s %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %7.2f %7.2f\n', name, m(1:4), m(5), m(1) - m(2), ...
         m(3) - m(4), m(1) / m(3), (m(3) - m(4) + m(5)) / m(3));
end

% The configs cases as a loop of calls sees them: per round, a loop of
% product calls on one thread, one on all cores (helpers awake from call to
% call, as in a learning loop), then a loop of plain calls; 5 rounds of some
% 0.2 s each, medians of the per-call wall times. Arrays, fresh results
% every call (made before the clock starts).
function loopCompareRow(name, c)
  rounds = 5;
  maps = randomMaps(c.n, c.N, c.nImages, true);
  patches = randomPatches(c.patchHalf, c.N, true);
  call = @(plugin) halveryCall(plugin, c, maps, patches, true);
  cores = nproc();
  settings = {{@Halvery, 1}, {@Halvery, cores}, {@plain_Halvery, 1}};
  calls = max(1, ceil(0.2 / call(@plain_Halvery)));
  t = zeros(rounds, numel(settings));
  for r = 1:rounds
    for k = 1:numel(settings)
      setenv('OTK_NUM_THREADS', num2str(settings{k}{2}));
      call(settings{k}{1});
      for j = 1:calls
        t(r, k) = t(r, k) + call(settings{k}{1}) / calls;
      end
    end
  end
  m = median(t, 1);
  printf('%-46s %9.2f %9.2f %9.2f %7.3f %7.3f\n', name, 1e3 * m, m(1) / m(3), m(2) / m(3));
end

% The configs cases with nothing but the product and the plain build in
% the alternation (configs also calls floor_Halvery between them, a third
% plug-in whose helpers take the turn at staying awake from the product's):
% per round a block of product and plain calls in turn, then a block of
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
  wantConfigs = any(strcmp(parts, 'configs'));
  wantSeries = any(strcmp(parts, 'series'));
  wantBound = any(strcmp(parts, 'bound'));
  wantLoops = any(strcmp(parts, 'loops'));
  wantPairs = any(strcmp(parts, 'pairs'));
  if ~(wantConfigs || wantSeries || wantBound || wantLoops || wantPairs)
    return;
  end
  if exist('plain_Halvery') ~= 3 || exist('plain_Wendlow') ~= 3
    printf('plain_Halvery, plain_Wendlow not on the path (build target bench_plugins, --path build/bench-mex)\n');
    return;
  end
  N = 16;
  rand('state', 2);
  if wantBound
    printf('\nHalvery, memory and the host: ms per call, medians of 5 rounds of 9 calls (cell grids)\n');
    printf('%-46s %7s %7s %7s %7s %7s %7s %7s %7s %7s\n', 'case', 'cold', 'warm', 'plain c', 'plain w', 'host', ...
           'memory', 'plain m', 'ratio', 'floor');
    boundRow('A: 32x128^2, 60 el, sR 1, oR 1, ph 3', templateCase(128, N, 32, 60, 1, 1, 3));
    boundRow('A0: the same, patchHalf 0', templateCase(128, N, 32, 60, 1, 1, 0));
    boundRow('B: 16x256^2, 100 el, sR 2, oR 1, ph 5', templateCase(256, N, 16, 100, 2, 1, 5));
    boundRow('B0: the same, patchHalf 0', templateCase(256, N, 16, 100, 2, 1, 0));
  end
  if wantLoops
    threads = getenv('OTK_NUM_THREADS');
    printf('\nHalvery in loops of calls against the plain build: ms per call, medians of 5 rounds (arrays)\n');
    printf('%-46s %9s %9s %9s %7s %7s\n', 'case', '1 thread', sprintf('%d thr', nproc()), 'plain', '1 / pl', ...
           'all / pl');
    loopCompareRow('A: Halvery 32x128^2, 60 el, sR 1, oR 1, ph 3', templateCase(128, N, 32, 60, 1, 1, 3));
    loopCompareRow('A0: the same, patchHalf 0', templateCase(128, N, 32, 60, 1, 1, 0));
    loopCompareRow('B: Halvery 16x256^2, 100 el, sR 2, oR 1, ph 5', templateCase(256, N, 16, 100, 2, 1, 5));
    loopCompareRow('B0: the same, patchHalf 0', templateCase(256, N, 16, 100, 2, 1, 0));
    if isempty(threads)
      unsetenv('OTK_NUM_THREADS');
    else
      setenv('OTK_NUM_THREADS', threads);
    end
  end
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
  if ~(wantConfigs || wantSeries)
    return;
  end
  printf('\nproduct vs plain serial plug-in, 5 rounds, medians: wall ms per call and their ratio, then\n');
  printf('process CPU us per image (cputime: all threads; steadier at 1 thread on a busy machine) and ratio;\n');
  printf('floor: floor_Halvery / plain, the host''s part and the reading of the samples alone;\n');
  printf('host: floor_host / plain, what the host charges for the call itself; net: (product - host) / (plain - host)\n');
  printf('%-46s %-5s %9s %9s %7s %9s %9s %7s %6s %6s %6s\n', 'case', 'maps', 'product', 'plain', 'ratio', 'cpu/img', ...
         'plain', 'ratio', 'floor', 'host', 'net');
  if wantConfigs
    cases = {'A: Halvery 32x128^2, 60 el, sR 1, oR 1, ph 3', templateCase(128, N, 32, 60, 1, 1, 3);
             'A0: the same, patchHalf 0', templateCase(128, N, 32, 60, 1, 1, 0);
             'B: Halvery 16x256^2, 100 el, sR 2, oR 1, ph 5', templateCase(256, N, 16, 100, 2, 1, 5);
             'B0: the same, patchHalf 0', templateCase(256, N, 16, 100, 2, 1, 0)};
    for k = 1:rows(cases)
      for asArray = [false true]
        compareRow(cases{k, 1}, cases{k, 2}, asArray, false);
      end
    end
  end
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

% OTK_TIMING=against: Halvery or Wendlow against an earlier build of itself
% (OTK_AGAINST names it: an earlier Wendlow.mex copied as WendlowOld.mex
% into a folder on the path) and the plain build, in one process. The
% series' calls (OTK_AGAINST_IMAGES, default "8 32 128" images of 16 maps
% of 128^2, 60 elements, shiftRange 1, oriRange 1, Halvery with patchHalf 3,
% maps as one array), 10 rounds of 10 calls of each build, in the order
% [this, earlier, plain] in odd rounds and [earlier, this, plain] in even
% ones: a call right after the plain build finds fewer of its samples in
% the caches (on 8 images some 17 % more time), so each build follows the
% plain one in half the rounds. Then, where the process may use two cores,
% the back-to-back call (16 images of 48^2 x 4) in loops of 200 calls at 1
% and 2 threads. Medians, and medians of the round-by-round ratios.
function againstTiming()
  earlier = getenv('OTK_AGAINST');
  halvery = strncmp(earlier, 'Halvery', 7);
  if ~(halvery || strncmp(earlier, 'Wendlow', 7)) || exist(earlier) ~= 3
    printf('OTK_AGAINST must name an earlier Halvery or Wendlow plug-in on the path\n');
    return;
  end
  name = earlier(1:7);
  builds = {str2func(name), str2func(earlier), str2func(['plain_' name])};
  images = str2num(getenv('OTK_AGAINST_IMAGES'));
  if isempty(images)
    images = [8 32 128];
  end
  rand('state', 2);
  printf('\n%s against %s and plain_%s, us per image, medians of 10 rounds\n', name, earlier, name);
  printf('%-28s %9s %9s %9s %9s %9s %9s\n', 'batch', 'this', 'earlier', 'plain', 'this/earl', 'this/pl', 'earl/pl');
  rounds = 10;
  for nImages = images
    c = templateCase(128, 16, nImages, 60, 1, 1, 3);
    maps = randomMaps(c.n, c.N, nImages, true);
    if halvery
      patches = randomPatches(c.patchHalf, c.N, true);
      call = @(plugin) halveryCall(plugin, c, maps, patches, true);
    else
      call = @(plugin) wendlowCall(plugin, c, maps);
    end
    [~, a] = call(builds{1});
    [~, b] = call(builds{2});
    [~, p] = call(builds{3});
    if ~isequal(a, p) || ~isequal(b, p)
      printf('%d images: the builds disagree\n', nImages);
      continue;
    end
    T = zeros(rounds, 3);
    for r = 1:rounds
      order = [1 2 3];
      if mod(r, 2) == 0
        order = [2 1 3];
      end
      for k = 1:10
        for f = order
          T(r, f) = T(r, f) + call(builds{f}) / 10;
        end
      end
    end
    m = median(T);
    printf('%-28s %9.1f %9.1f %9.1f %9.3f %9.3f %9.3f\n', sprintf('%d x 128^2 x 16', nImages), 1e6 * m / nImages, ...
           median(T(:, 1) ./ T(:, 2)), median(T(:, 1) ./ T(:, 3)), median(T(:, 2) ./ T(:, 3)));
    clear maps;
  end
  if nproc() < 2
    printf('back to back: left out, this process may use one core\n');
    return;
  end
  saved = {getenv('OTK_NUM_THREADS'), getenv('OTK_SPIN_US')};
  nImages = 16; n = 48; Nh = 4;
  hm = rand(n, n, Nh, nImages) .^ 4;
  nElements = 180;
  if halvery
    nElements = 600;
  end
  tp = struct('ori', floor(rand(1, nElements) * Nh), 'x', 5 + floor(rand(1, nElements) * (n - 9)), ...
              'y', 5 + floor(rand(1, nElements) * (n - 9)), 'w', randn(1, nElements), 'b', rand(1, nElements) / 4);
  patches = rand(5, 5, Nh); renders = zeros(n, n, nImages); scores = zeros(nImages, 1);
  pooled = zeros(nImages, nElements);
  wo = {zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1)};
  calls = cell(1, 2);
  for f = 1:2
    g = builds{f};
    if halvery
      calls{f} = @() g(nImages, Nh, hm, {}, 2, n, n, 0, tp.ori, tp.x, tp.y, tp.w, tp.b, patches, renders, 2, 1, 1, ...
                       nElements, 0.9, scores, pooled, 0, 0, 0, 0);
    else
      calls{f} = @() g(nImages, Nh, hm, {}, 0, n, n, 0, tp.ori, tp.x, tp.y, tp.w, tp.b, {}, {}, 2, 1, 1, nElements, ...
                       0.9, wo{1}, 0, 0, 0, 0, 0, wo{2}, wo{3}, wo{4});
    end
  end
  T = zeros(rounds, 4);   % this at 1 and 2 threads, earlier at 1 and 2
  for r = 1:rounds
    order = [1 2];
    if mod(r, 2) == 0
      order = [2 1];
    end
    for threads = [1 2]
      for f = order
        T(r, 2 * (f - 1) + threads) = loopTime(calls{f}, 200, threads, '');
      end
    end
  end
  m = median(T);
  printf('back to back, ms per call: this %.3f (1 thr) %.3f (2 thr), gain %.2f; earlier %.3f %.3f, gain %.2f; this/earlier %.3f %.3f\n', ...
         1e3 * m(1), 1e3 * m(2), median(T(:, 1) ./ T(:, 2)), 1e3 * m(3), 1e3 * m(4), median(T(:, 3) ./ T(:, 4)), ...
         median(T(:, 1) ./ T(:, 3)), median(T(:, 2) ./ T(:, 4)));
  restoreSettings(saved);
end

parts = getenv('OTK_TIMING');
if isempty(parts)
  parts = 'vectorised,configs,loops,pairs,bound,series,backtoback';
end
parts = strsplit(parts, ',');
rounds = 7;
N = 16;
haveImage = false;
try
  pkg load image
  haveImage = exist('imrotate') == 2;
catch
end
rand('state', 1); randn('state', 1);
threads = getenv('OTK_NUM_THREADS');
if isempty(threads)
  threads = 'all cores';
end
load = fileread('/proc/loadavg');
printf('Octave %s; plug-in threads: %s; load average %s', version(), threads, load);
if any(strcmp(parts, 'vectorised'))
printf('%d rounds, medians\n', rounds);
printf('%-44s %10s %10s %8s\n', 'case', 'plug-in ms', 'Octave ms', 'Oct/plug');

for n = [256 512]
  maps = cell(1, N);
  for k = 1:N
    maps{k} = 2.5 * rand(n) .* rand(n);
  end
  M = cat(3, maps{:});
  size_ = sprintf('%d^2 x %d', n, N);
  row(['Fenwold vs s*tanh(v/s), ' size_], @() fenwoldCall(maps, n, 1), @() timed(@() 1 * tanh(M / 1)), rounds);
  row(['Porrith vs tanh + accumarray, ' size_], @() porrithCall(maps, n, 2, 0.05, 20, 1), ...
      @() timed(@() octaveDensity(M, 2, 0.05, 20, 1, false)), rounds);
  row(['Porrith vs tanh + histc, ' size_], @() porrithCall(maps, n, 2, 0.05, 20, 1), ...
      @() timed(@() octaveDensity(M, 2, 0.05, 20, 1, true)), rounds);

  % Every map its own transform.
  dX = floor(rand(N, 1) * 7) - 3; dY = floor(rand(N, 1) * 7) - 3; dOri = floor(rand(N, 1) * N);
  results = cell(N, 1);
  for k = 1:N
    results{k} = zeros(n);
  end
  srcList = maps(:);
  try
    row(['Sabrel vs indexing, own transforms, ' size_], ...
        @() timed(@() Sabrel(N, N, srcList, results, n, n, dX, dY, dOri)), ...
        @() timed(@() arrayfun(@(k) warpByIndexing(srcList{k}, pi * dOri(k) / N, dX(k), dY(k)), 1:N, ...
                               'UniformOutput', false)), rounds);
  catch err
    printf('%-44s skipped: %s\n', ['Sabrel, ' size_], err.message);
  end
  if haveImage
    try
      row(['Sabrel vs imrotate nearest, ' size_], ...
          @() timed(@() Sabrel(N, N, srcList, results, n, n, dX, dY, dOri)), ...
          @() timed(@() arrayfun(@(k) imrotate(srcList{k}, 180 * dOri(k) / N, 'nearest', 'crop'), 1:N, ...
                                 'UniformOutput', false)), rounds);
    catch err
      printf('%-44s skipped: %s\n', 'Sabrel vs imrotate', err.message);
    end
  end

  % Mundle: 4 stacks of N channels, each stack its own transform.
  nStacks = 4;
  src = cell(nStacks, N); res = cell(nStacks, N);
  for i = 1:nStacks
    for k = 1:N
      src{i, k} = maps{k};
      res{i, k} = zeros(n);
    end
  end
  try
    row(sprintf('Mundle vs indexing, %d stacks of %s', nStacks, size_), ...
        @() timed(@() Mundle(nStacks, N, src, res, n, n, dX(1:nStacks), dY(1:nStacks), dOri(1:nStacks))), ...
        @() timed(@() arrayfun(@(i) warpStackByIndexing(M, pi * dOri(i) / N, dX(i), dY(i), dOri(i)), 1:nStacks, ...
                               'UniformOutput', false)), rounds);
  catch err
    printf('%-44s skipped: %s\n', ['Mundle, ' size_], err.message);
  end

  % Halvery: 30 elements on 8 images, shiftRange 2, oriRange 1.
  nImages = 8; nElements = 30;
  hm = cell(nImages, N);
  for i = 1:nImages
    for k = 1:N
      hm{i, k} = maps{1 + mod(i + k, N)};
    end
  end
  stacks = cell(1, N);
  for k = 1:N
    stacks{k} = cat(3, hm{:, k});
  end
  ori = floor(rand(1, nElements) * N);
  x = 10 + floor(rand(1, nElements) * (n - 20)); y = 10 + floor(rand(1, nElements) * (n - 20));
  w = ones(1, nElements); b = zeros(1, nElements);
  patches = cell(N, 1);
  for k = 1:N
    patches{k} = ones(3);
  end
  renders = cell(nImages, 1);
  for i = 1:nImages
    renders{i} = zeros(n);
  end
  try
    row(sprintf('Halvery vs indexing pool, %d images of %s', nImages, size_), ...
        @() timed(@() Halvery(nImages, N, hm, cell(N, N), 1, n, n, 0, ori, x, y, w, b, patches, renders, ...
                              2, 1, 1, nElements, 10, zeros(nImages, 1), zeros(nImages * nElements, 1), 0, 0, 0, 0)), ...
        @() timed(@() poolByIndexing(stacks, N, ori, x, y, 2, 1)), rounds);
  catch err
    printf('%-44s skipped: %s\n', ['Halvery, ' size_], err.message);
  end
end
if ~haveImage
  printf('imrotate: the image package is not installed, its rows are skipped\n');
end
printf('Wendlow: no vectorised Octave equivalent is timed (see below)\n');
end

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
if any(strcmp(parts, 'against'))
  againstTiming();
end
