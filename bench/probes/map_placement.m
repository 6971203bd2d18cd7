% MAP_PLACEMENT  Question: does a search read one numeric array slower than
% the same maps on a cell grid (at 255^2 and above), or is the gap the sweep
% shows at times (bench/sweep.m) the measurement's? Figure: the array /
% cells range of Wendlow in docs/performance.md (Map sizes).
%
%   OTK_NUM_THREADS=1 octave-cli --norc --path build/mex bench/probes/map_placement.m
%
% The same batch (16 images of 255^2 x 16, 60 elements, shifts and
% orientations 1 either side) searched by Wendlow in six trials, each on a
% fresh batch: as the array; as its cell grid, built as the sweep builds
% it, whose maps are the host's views into the array (the very addresses
% the array route reads: the same kernel on the same memory); and as a copy
% of the array (the same numbers and layout, other memory). Processor time
% per element and image, medians of 20 rounds of one call of each, one
% after another. A batch read call after call gets faster for a while here
% (a fresh batch's calls went from 2.7 to 1.6 ms over 40 calls), so a route
% timed later on a batch than the other looks the faster: the sweep, which
% timed the array first in every round, gave array / cells 1.3-2.0, and
% 0.6-0.8 with the order turned round; it now turns it every round.

1;

% bench_template, bench_grid
addpath(fullfile(fileparts(fileparts(mfilename('fullpath'))), 'shared'));

% Processor seconds of one call of f.
function t = cpuOf(f)
  c0 = cputime;
  f();
  t = cputime - c0;
end

seed = 1;
rand('state', seed);
N = 16; K = 60; n = 255; nImages = 16;
tpl = bench_template(n, N, K);
s = zeros(nImages, 1); dx = NaN(nImages, 1); dy = dx; dori = dx;
search = @(maps) Wendlow(nImages, N, maps, {}, 0, n, n, 0, tpl.orientation, tpl.row, tpl.column, tpl.weight, ...
                         tpl.bias, {}, {}, 1, 1, 1, K, Inf, s, 0, 0, 0, 0, 0, dx, dy, dori);
printf('map_placement: %d images of %dx%dx%d, %d elements, seed %d; ns per element and image\n', ...
       nImages, n, n, N, K, seed);
printf('%6s %10s %10s %12s %8s %10s\n', 'trial', 'array', 'cells', 'array copy', 'a/c', 'copy/c');
held = {};
for trial = 1:6
  stack = rand(n, n, N, nImages);
  grid = bench_grid(stack);
  copy = stack;
  copy(1) = stack(1);  % its own memory now
  t = zeros(20, 3);
  for r = 1:20
    t(r, :) = [cpuOf(@() search(stack)), cpuOf(@() search(grid)), cpuOf(@() search(copy))];
  end
  m = 1e9 * median(t, 1) / (nImages * K);
  printf('%6d %10.1f %10.1f %12.1f %8.2f %10.2f\n', trial, m, m(1) / m(2), m(3) / m(2));
  % Some batches stay taken, so that later trials get other memory.
  if mod(trial, 2) == 0
    held{end + 1} = stack; %#ok<AGROW>
  end
end
