% OCTAVE_AGAINST  Times Halvery or Wendlow through the host against an
% earlier build of itself and against its plain serial build, in one process.
%
%   mkdir /tmp/old && cp <earlier build>/mex/Wendlow.mex /tmp/old/WendlowOld.mex
%   OTK_AGAINST=WendlowOld OTK_NUM_THREADS=1 taskset -c 0 octave-cli --norc \
%       --path build/mex --path build/bench-mex --path /tmp/old bench/octave_against.m
%
% OTK_AGAINST names the earlier build (its name begins with Halvery or
% Wendlow, whose arguments it takes); OTK_AGAINST_IMAGES the batch sizes
% (default "8 32 128") of the series' calls: images of 16 maps of 128^2, 60
% elements in a disc, shiftRange 1, oriRange 1, Halvery with patchHalf 3,
% maps as one array. Then, where the process may use two cores, the
% back-to-back call of octave_timing.m (16 images of 48^2 x 4) in loops of
% 200 calls at 1 and at 2 threads.
%
% The three builds are called in turn, 10 calls each a round, 10 rounds.
% The order is [this, earlier, plain] in odd rounds and [earlier, this,
% plain] in even ones: a call right after the plain build finds fewer of its
% samples in the caches (on 8 images some 17 % more time), so each build
% follows the plain one in half the rounds. Medians in us per image, the
% median of the round-by-round ratios, and each build against plain.
1;

function t = randomTemplate(n, N, nElements)
  r = 0.4 * n * sqrt(rand(nElements, 1));
  a = 2 * pi * rand(nElements, 1);
  t.x = round(n / 2 + r .* cos(a));
  t.y = round(n / 2 + r .* sin(a));
  t.ori = floor(rand(nElements, 1) * N);
  t.w = 0.5 + 1.5 * rand(nElements, 1);
  t.b = 0.2 * rand(nElements, 1);
end

% One call on fresh results (made before the clock starts).
function [t, out] = templateCall(plugin, halvery, c, maps, patches)
  nImages = c.nImages;
  nElements = numel(c.tpl.ori);
  if halvery
    renders = zeros(c.n, c.n, nImages); scores = zeros(nImages, 1); pooled = zeros(nImages * nElements, 1);
    tic;
    plugin(nImages, c.N, maps, [], c.patchHalf, c.n, c.n, 0, c.tpl.ori, c.tpl.x, c.tpl.y, c.tpl.w, c.tpl.b, ...
           patches, renders, c.shiftRange, c.oriRange, 1, nElements, 0.9, scores, pooled, 0, 0, 0, 0);
    t = toc;
    out = {renders, scores, pooled};
  else
    best = zeros(nImages, 1); dX = zeros(nImages, 1); dY = zeros(nImages, 1); dOri = zeros(nImages, 1);
    tic;
    plugin(nImages, c.N, maps, [], 0, c.n, c.n, 0, c.tpl.ori, c.tpl.x, c.tpl.y, c.tpl.w, c.tpl.b, ...
           [], [], c.shiftRange, c.oriRange, 1, nElements, 0.9, best, [], 0, 0, 0, 0, dX, dY, dOri);
    t = toc;
    out = {best, dX, dY, dOri};
  end
end

function t = loopTime(f, calls, threads)
  setenv('OTK_NUM_THREADS', num2str(threads));
  f();
  tic;
  for k = 1:calls
    f();
  end
  t = toc / calls;
end

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
printf('%s against %s and plain_%s; plug-in threads: %s\n', name, earlier, name, getenv('OTK_NUM_THREADS'));
printf('%-28s %9s %9s %9s %9s %9s %9s\n', 'batch (us per image)', 'this', 'earlier', 'plain', 'this/earl', ...
       'this/pl', 'earl/pl');
rounds = 10;
for nImages = images
  c = struct('n', 128, 'N', 16, 'nImages', nImages, 'shiftRange', 1, 'oriRange', 1, 'patchHalf', 3);
  c.tpl = randomTemplate(c.n, c.N, 60);
  maps = rand(c.n, c.n, c.N, nImages);
  patches = rand(7, 7, c.N);
  [~, a] = templateCall(builds{1}, halvery, c, maps, patches);
  [~, b] = templateCall(builds{2}, halvery, c, maps, patches);
  [~, p] = templateCall(builds{3}, halvery, c, maps, patches);
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
        T(r, f) = T(r, f) + templateCall(builds{f}, halvery, c, maps, patches) / 10;
      end
    end
  end
  m = median(T);
  printf('%-28s %9.1f %9.1f %9.1f %9.3f %9.3f %9.3f\n', sprintf('%d x 128^2 x 16', nImages), 1e6 * m / nImages, ...
         median(T(:, 1) ./ T(:, 2)), median(T(:, 1) ./ T(:, 3)), median(T(:, 2) ./ T(:, 3)));
  clear maps;
end

% The back-to-back call: 16 images of 48^2 x 4, Halvery 600 elements with
% patchHalf 2, Wendlow 180; shiftRange 2, oriRange 1. Only where the
% process may use two cores (not under taskset -c 0).
if nproc() < 2
  printf('back to back: left out, this process may use one core\n');
  return;
end
saved = getenv('OTK_NUM_THREADS');
nImages = 16; n = 48; Nh = 4;
hm = rand(n, n, Nh, nImages) .^ 4;
nElements = 600;
if ~halvery
  nElements = 180;
end
tp = struct('ori', floor(rand(1, nElements) * Nh), 'x', 5 + floor(rand(1, nElements) * (n - 9)), ...
            'y', 5 + floor(rand(1, nElements) * (n - 9)), 'w', randn(1, nElements), 'b', rand(1, nElements) / 4);
patches = rand(5, 5, Nh); renders = zeros(n, n, nImages); scores = zeros(nImages, 1);
pooled = zeros(nImages, nElements); wo = {zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1)};
calls = {};
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
T = zeros(rounds, 4);   % this 1, this 2, earlier 1, earlier 2 threads
for r = 1:rounds
  order = [1 2];
  if mod(r, 2) == 0
    order = [2 1];
  end
  for threads = [1 2]
    for f = order
      T(r, 2 * (f - 1) + threads) = loopTime(calls{f}, 200, threads);
    end
  end
end
m = median(T);
printf('back to back, ms per call: this %.3f (1 thr) %.3f (2 thr), gain %.2f; earlier %.3f %.3f, gain %.2f; this/earlier %.3f %.3f\n', ...
       1e3 * m(1), 1e3 * m(2), median(T(:, 1) ./ T(:, 2)), 1e3 * m(3), 1e3 * m(4), median(T(:, 3) ./ T(:, 4)), ...
       median(T(:, 1) ./ T(:, 3)), median(T(:, 2) ./ T(:, 4)));
if isempty(saved)
  unsetenv('OTK_NUM_THREADS');
else
  setenv('OTK_NUM_THREADS', saved);
end
