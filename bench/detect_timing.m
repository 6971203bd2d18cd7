% DETECT_TIMING  otk_learn_template and otk_score_map against the same work
% done in the interpreter, through the host, on the same data:
%
%   octave-cli --norc --path build/mex bench/detect_timing.m
%
% Learning: 64 aligned examples of 128 x 128 x 16, K = 40, the default
% pooling (ShiftRange 1, OriRange 1); beside it the same rule written with
% whole-array operations (each orientation pooled as a running maximum of
% moved maps, the sum over the examples, the picks by max over the array).
% Score map: one 128 x 128 x 16 image, a template of 60 elements, the
% default pooling; beside it otk_score_template called once per placement
% (the template moved by the placement's shift), and otk_score_map on one
% thread and on two. Each timing is the best of ROUNDS rounds (the machine
% is shared: the best is the least disturbed); the results of both sides
% are checked to be equal. Octave-only.

1;

% The learning rule with whole-array operations.
function tpl = learnInterpreted(maps, K, sr, orr, step, sat, radius, sep, frac)
  [nR, nC, N, nI] = size(maps);
  nI = size(maps, 4);
  PI = 3.1415926;
  m = zeros(nR, nC, N);
  for o = 0:N-1
    best = zeros(nR, nC, 1, nI);
    for i = -sr:sr
      dx = floor(i * step * cos(PI * o / N) + 0.5);
      dy = floor(i * step * sin(PI * o / N) + 0.5);
      rs = max(1, 1 - dx):min(nR, nR - dx);
      cs = max(1, 1 - dy):min(nC, nC - dy);
      for j = -orr:orr
        moved = zeros(nR, nC, 1, nI);
        moved(rs, cs, 1, :) = maps(rs + dx, cs + dy, mod(o + j, N) + 1, :);
        best = max(best, moved);
      end
    end
    pooled = min(best, sat);
    s = zeros(nR, nC);
    for i = 1:nI
      s = s + pooled(:, :, 1, i);
    end
    m(:, :, o + 1) = s;
  end
  m = m / nI;
  [cols, rows] = meshgrid(1:nC, 1:nR);
  alive = repmat((rows - floor(nR / 2)).^2 + (cols - floor(nC / 2)).^2 <= radius^2, [1 1 N]);
  tpl = otk_template(zeros(1, 0), zeros(1, 0), zeros(1, 0));
  tpl.meanPooled = zeros(1, 0);
  while numel(tpl.row) < K && any(alive(:))
    v = m;
    v(~alive) = NaN;
    [value, at] = max(v(:));
    [r, c, o] = ind2sub([nR nC N], at);
    tpl.orientation(end + 1) = o - 1;  tpl.row(end + 1) = r;  tpl.column(end + 1) = c;
    tpl.weight(end + 1) = 1;  tpl.bias(end + 1) = frac * value;  tpl.meanPooled(end + 1) = value;
    near = (rows - r).^2 + (cols - c).^2 < sep^2;
    near(r, c) = true;
    alive(repmat(near, [1 1 N])) = false;
  end
end

function t = best_of(f, rounds)
  t = Inf;
  for k = 1:rounds
    started = tic;
    f();
    t = min(t, toc(started));
  end
end

function S = perPlacement(maps, tpl)
  [nR, nC] = size(maps(:, :, 1));
  S = zeros(nR, nC);
  cr = floor(nR / 2);  cc = floor(nC / 2);
  for c = 1:nC
    for r = 1:nR
      moved = tpl;
      moved.row = tpl.row + (r - cr);
      moved.column = tpl.column + (c - cc);
      S(r, c) = otk_score_template(maps, moved);
    end
  end
end

ROUNDS = 3;
rand('seed', 1);
printf('detect_timing: %s, %d cores, OTK_NUM_THREADS=%s, best of %d\n', version(), nproc(), ...
       getenv('OTK_NUM_THREADS'), ROUNDS);

% --- Learning.
n = 128;  N = 16;  nI = 64;  K = 40;
base = rand(n, n, N) .^ 4;
examples = repmat(base, [1 1 1 nI]) + 0.3 * rand(n, n, N, nI);
args = {1, 1, 1, Inf, Inf, 3, 0.5};
compiled = otk_learn_template(examples, K);
interpreted = learnInterpreted(examples, K, args{:});
assert(isequal(compiled, interpreted), 'learning: the interpreted rule picks otherwise');
before = otk_threads(1);
tLearn1 = best_of(@() otk_learn_template(examples, K), ROUNDS);
otk_threads(2);
tLearn2 = best_of(@() otk_learn_template(examples, K), ROUNDS);
otk_threads(before);
tLearnInterp = best_of(@() learnInterpreted(examples, K, args{:}), ROUNDS);
printf('\nlearn: %d examples of %dx%dx%d, K = %d\n', nI, n, n, N, K);
printf('  interpreted, whole arrays   %9.1f ms\n', 1e3 * tLearnInterp);
printf('  otk_learn_template, 1 thread %8.1f ms   %6.1fx the interpreted\n', 1e3 * tLearn1, tLearnInterp / tLearn1);
printf('  otk_learn_template, 2 threads %7.1f ms   %6.1fx the interpreted, %.2fx one thread\n', 1e3 * tLearn2, ...
       tLearnInterp / tLearn2, tLearn1 / tLearn2);

% --- Score map.
image = rand(n, n, N) .^ 4;
tpl = otk_learn_template(image, 60, 'Radius', 0.35 * n, 'Separation', 4);
assert(numel(tpl.row) == 60);
S = otk_score_map(image, tpl);
assert(isequal(S, perPlacement(image, tpl)), 'score map: placements differ');
tPlace = best_of(@() perPlacement(image, tpl), 1);
before = otk_threads(1);
tMap1 = best_of(@() otk_score_map(image, tpl), 5 * ROUNDS);
otk_threads(2);
tMap2 = best_of(@() otk_score_map(image, tpl), 5 * ROUNDS);
rots = 0:2:2 * N - 1;
tRot2 = best_of(@() otk_score_map(image, tpl, 'Rotations', rots), ROUNDS);
otk_threads(1);
tRot1 = best_of(@() otk_score_map(image, tpl, 'Rotations', rots), ROUNDS);
otk_threads(before);
printf('\nscore map: one %dx%dx%d image, %d elements, %d placements\n', n, n, N, numel(tpl.row), n * n);
printf('  otk_score_template per placement %8.1f ms\n', 1e3 * tPlace);
printf('  otk_score_map, 1 thread        %8.2f ms   %6.0fx the placements\n', 1e3 * tMap1, tPlace / tMap1);
printf('  otk_score_map, 2 threads       %8.2f ms   %6.0fx the placements, %.2fx one thread\n', 1e3 * tMap2, ...
       tPlace / tMap2, tMap1 / tMap2);
printf('  %d rotations, 1 thread         %8.1f ms\n', numel(rots), 1e3 * tRot1);
printf('  %d rotations, 2 threads        %8.1f ms   %.2fx one thread\n', numel(rots), 1e3 * tRot2, tRot1 / tRot2);
