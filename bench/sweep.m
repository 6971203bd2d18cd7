% SWEEP  Cost per unit of work of every plug-in and every compiled otk_
% function over map sizes, maps as one numeric array and as a cell grid,
% through the host:
%
%   octave-cli --norc --path build/mex --path build/bench-mex bench/sweep.m
%   OTK_SWEEP=quick octave-cli --norc --path build/mex bench/sweep.m
%
% Sizes are 15^2 to 513^2: every power of two from 16 to 512 and its two
% neighbours (OTK_SWEEP=quick: 127 to 129 and 255 to 257 only; OTK_SWEEP
% may also be a list of sides, e.g. OTK_SWEEP="63 64 65"). Units: element
% times image for scoring and searching (Halvery, Wendlow and their otk_
% functions), pixel of every map read for warps, saturation, density and
% learning, pixel of every map made for the responses, element times pixel
% of every image for the score map, point for otk_transform_points and
% element for otk_transform_template.
% Each batch holds about the same bytes of maps at every size (BATCH_MB
% below), so that a size costs what its layout costs and not what its
% batch's place in the caches does.
%
% A power of two and its neighbours are timed together: the calls of the
% three sizes and both routes alternate, ROUNDS rounds of a few
% milliseconds per call, so that the load of the machine moves them alike
% (timeRoutes says how no route is favoured by its place in a round).
% Every size's batch and template are drawn from the same seed, so that
% sizes differ in their layout and not in where a template's elements fall.
% The table shows each call's fastest round (other work on a shared
% machine only ever adds time; the median moved by some 15 % between runs
% here, the fastest by a few per cent) in ns per unit, the ratio
% array / cells, and flags:
%   a  array costs more than 1.05x cells at this size;
%   N  numeric-array cost above 1.15x the mean of its neighbouring sizes
%      one pixel either side (a power of two against 2^k-1 and 2^k+1;
%      2^k-1 and 2^k+1 against 2^k alone: the cost of a unit may grow
%      with the size, 129 and 255 are not neighbours);
%   C  the same for cells.
% Functions that return new maps are timed with the host's allocator:
% glibc serves a block of 16 to 32 MB from reused memory or from fresh
% pages (a page fault each 4 kB) by a threshold that moves with what was
% freed last, so that one size of three paid the faults and the others did
% not, and one route of two where both made the same call. Run the sweep
% with the threshold held at its highest and freed memory kept,
%   GLIBC_TUNABLES=glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=268435456
% in front (tools/bench.sh --sweep does), so that every result of the
% sweep comes from reused memory and the table shows the kernels (but for
% results of 32 MB or more, beyond any threshold glibc takes: add
% :glibc.malloc.hugetlb=1 to have their fresh pages 2 MB ones). (Held
% at its lowest instead, every array result paid its faults and every
% cell grid of small maps none: array / cells 1.5-2.6 for the warps and
% the saturation, all of it the host's.)
% Rows marked (floor) are probes, not functions: what a call's memory
% traffic or the host's making of its result costs at each size, with
% nothing computed, so that a step the probe shows too is read as the
% memory's or the host's (Halvery's rows need build/bench-mex on the path,
% as tools/bench.sh --sweep puts it).
% OTK_NUM_THREADS, when set, is the plug-ins' thread count; at 1 the sweep
% times the process's processor time, the steadiest figure on a busy
% machine (OTK_SWEEP_CLOCK=wall or cpu to choose). OTK_SWEEP_ONLY, a
% regular expression, picks functions by name. Octave-only. Ratios between the
% columns of one run are what counts; absolute figures move with the load.

1;

% bench_template, bench_grid
addpath(fullfile(fileparts(mfilename('fullpath')), 'shared'));

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

% Images of N maps of n^2 that hold about mb megabytes.
function nImages = imagesFor(mb, N, n)
  nImages = max(1, round(mb * 2^20 / (8 * N * n * n)));
end

% Fastest seconds per call of each route: the routes alternate, and each
% round repeats a call often enough to last about 3 ms (measured once).
% A batch read call after call gets faster for a while here (a search on a
% fresh 64 MB batch went from 2.7 to 1.6 ms over 40 calls), and the cell
% grid's maps are views into the array: whichever route came later on a
% batch was timed the faster (array / cells 1.3-1.9 in one order, 0.6-0.8
% in the other). So every call is first made for about 50 ms, the order of
% the calls turns round every round, and each timed run follows one
% untimed call of itself.
function t = timeRoutes(calls, rounds)
  global useCpu
  k = numel(calls);
  reps = ones(1, k);
  for j = 1:k
    calls{j}();  % warm: first touches, loaded plug-in
    started = tic;
    calls{j}();
    once = toc(started);
    reps(j) = max(1, min(200, round(3e-3 / max(once, 1e-6))));
    for q = 1:min(40, round(50e-3 / max(once, 1e-6)))
      calls{j}();
    end
  end
  all = zeros(rounds, k);
  for r = 1:rounds
    order = 1:k;
    if mod(r, 2) == 0
      order = k:-1:1;
    end
    for j = order
      calls{j}();
      if useCpu
        started = cputime;
        for q = 1:reps(j)
          calls{j}();
        end
        all(r, j) = (cputime - started) / reps(j);
      else
        started = tic;
        for q = 1:reps(j)
          calls{j}();
        end
        all(r, j) = toc(started) / reps(j);
      end
    end
  end
  t = min(all, [], 1);
end

% The jobs: each returns [array, cells] seconds per call and the units of
% work of one call.

% Halvery's batch, called through plugin with any further inputs after the
% 26. The floor of a Halvery call (bench/probes/floor_Halvery.cpp, built
% into build/bench-mex) takes the same call: its arguments read and every
% sample its poolings read copied out as Halvery copies them ("reads"),
% with each render line a drawing raises read and written back ("+lines",
% a 27th input of 1), or with the next image's sample lines asked for
% before an image is read ("+ahead", 2), nothing computed. A step between
% sizes in these rows is the memory's, which no kernel that reads those
% samples and writes those lines avoids, asking ahead or not.
function [calls, units] = halveryJob(n, mb, plugin, varargin)
  N = 16; K = 60;
  nImages = imagesFor(mb, N, n);
  stack = rand(n, n, N, nImages); grid = bench_grid(stack);
  tpl = bench_template(n, N, K);
  patchesGrid = repmat({1}, N, 1); patchesArray = ones(1, 1, N);
  rendersGrid = zeroGrid(nImages, 1, n, n); rendersArray = zeros(n, n, nImages);
  scores = zeros(nImages, 1); pooled = zeros(nImages, K);
  call = @(maps, patches, renders) plugin(nImages, N, maps, {}, 0, n, n, 0, tpl.orientation, tpl.row, ...
      tpl.column, tpl.weight, tpl.bias, patches, renders, 1, 1, 1, K, Inf, scores, pooled, 0, 0, 0, 0, varargin{:});
  calls = {@() call(stack, patchesArray, rendersArray), @() call(grid, patchesGrid, rendersGrid)};
  units = nImages * K;
end

function [calls, units] = wendlowJob(n, mb)
  N = 16; K = 60;
  nImages = imagesFor(mb, N, n);
  stack = rand(n, n, N, nImages); grid = bench_grid(stack);
  tpl = bench_template(n, N, K);
  s = zeros(nImages, 1); dx = NaN(nImages, 1); dy = dx; dori = dx;
  call = @(maps) Wendlow(nImages, N, maps, {}, 0, n, n, 0, tpl.orientation, tpl.row, tpl.column, ...
      tpl.weight, tpl.bias, {}, {}, 1, 1, 1, K, Inf, s, 0, 0, 0, 0, 0, dx, dy, dori);
  calls = {@() call(stack), @() call(grid)};
  units = nImages * K;
end

function [calls, units] = sabrelJob(n, mb)
  count = imagesFor(mb, 1, n);
  stack = rand(n, n, count); list = asList(stack);
  to = zeros(n, n, count); toList = zeroGrid(count, 1, n, n);
  dX = mod(0:count - 1, 5) - 2; dY = mod(0:count - 1, 3) - 1; dO = mod(0:count - 1, 16);
  calls = {@() Sabrel(count, 16, stack, to, n, n, dX, dY, dO), ...
                  @() Sabrel(count, 16, list, toList, n, n, dX, dY, dO)};
  units = count * n * n;
end

function [calls, units] = mundleJob(n, mb)
  N = 16;
  nImages = imagesFor(mb, N, n);
  stack = rand(n, n, N, nImages); grid = bench_grid(stack);
  to = zeros(n, n, N, nImages); toGrid = zeroGrid(nImages, N, n, n);
  dX = mod(0:nImages - 1, 5) - 2; dY = mod(0:nImages - 1, 3) - 1; dO = mod(3 * (0:nImages - 1), N);
  calls = {@() Mundle(nImages, N, stack, to, n, n, dX, dY, dO), ...
                  @() Mundle(nImages, N, grid, toGrid, n, n, dX, dY, dO)};
  units = nImages * N * n * n;
end

% Saturating in place again and again keeps the values ordinary doubles
% (they shrink slowly toward 0), so the calls need no fresh copies.
function [calls, units] = fenwoldJob(n, mb)
  N = 16;
  nImages = imagesFor(mb, N, n);
  stack = 2 * rand(n, n, N, nImages); grid = bench_grid(stack);
  calls = {@() Fenwold(nImages, N, stack, n, n, 0.7), @() Fenwold(nImages, N, grid, n, n, 0.7)};
  units = nImages * N * n * n;
end

function [calls, units] = porrithJob(n, mb)
  N = 16;
  nImages = imagesFor(mb, N, n);
  stack = 2 * rand(n, n, N, nImages); grid = bench_grid(stack);
  h = zeros(1, 20);
  calls = {@() Porrith(nImages, N, stack, 2, n, n, 0.05, 20, h, 1), ...
                  @() Porrith(nImages, N, grid, 2, n, n, 0.05, 20, h, 1)};
  units = nImages * N * n * n;
end

function [calls, units] = scoreJob(n, mb)
  N = 16; K = 60;
  nImages = imagesFor(mb, N, n);
  stack = rand(n, n, N, nImages); grid = bench_grid(stack);
  tpl = bench_template(n, N, K);
  calls = {@() scoreTwo(stack, tpl), @() scoreTwo(grid, tpl)};
  units = nImages * K;
end

function scoreTwo(maps, tpl)
  [s, p] = otk_score_template(maps, tpl); %#ok<ASGLU>
end

function [calls, units] = searchJob(n, mb)
  N = 16; K = 60;
  nImages = imagesFor(mb, N, n);
  stack = rand(n, n, N, nImages); grid = bench_grid(stack);
  tpl = bench_template(n, N, K);
  calls = {@() otk_search_transform(stack, tpl, 'ShiftRange', 1, 'OriRange', 1), ...
                  @() otk_search_transform(grid, tpl, 'ShiftRange', 1, 'OriRange', 1)};
  units = nImages * K;
end

function [calls, units] = warpMapsJob(n, mb)
  count = imagesFor(mb, 1, n);
  stack = rand(n, n, count); list = asList(stack);
  dX = mod(0:count - 1, 5) - 2; dY = mod(0:count - 1, 3) - 1; dO = mod(0:count - 1, 16);
  calls = {@() otk_warp_maps(stack, dX, dY, dO, 16), @() otk_warp_maps(list, dX, dY, dO, 16)};
  units = count * n * n;
end

function [calls, units] = warpStacksJob(n, mb)
  N = 16;
  nImages = imagesFor(mb, N, n);
  stack = rand(n, n, N, nImages); grid = bench_grid(stack);
  dX = mod(0:nImages - 1, 5) - 2; dY = mod(0:nImages - 1, 3) - 1; dO = mod(3 * (0:nImages - 1), N);
  calls = {@() otk_warp_stacks(stack, dX, dY, dO), @() otk_warp_stacks(grid, dX, dY, dO)};
  units = nImages * N * n * n;
end

function [calls, units] = saturateJob(n, mb)
  N = 16;
  nImages = imagesFor(mb, N, n);
  stack = 2 * rand(n, n, N, nImages); grid = bench_grid(stack);
  calls = {@() otk_saturate(stack, 0.7), @() otk_saturate(grid, 0.7)};
  units = nImages * N * n * n;
end

% The floor of a call that returns new maps: the host making the result
% alone, as the compiled functions have it made (one zeros of the whole
% result on the array route, one a map on the cell grid), beside an input
% of the same size (otk_saturate's and otk_warp_stacks' batch), per pixel
% as they count. glibc serves a block of 32 MB or more from fresh pages, a
% fault each 4 kB, or from memory it kept, as what it holds at the time
% decides; the maps of a cell grid come from reused memory.
function [calls, units] = hostResultJob(n, mb)
  N = 16;
  nImages = imagesFor(mb, N, n);
  stack = rand(n, n, N, nImages);
  calls = {@() zeros(size(stack)), @() zeroGrid(nImages, N, n, n)};
  units = numel(stack);
end

function [calls, units] = densityJob(n, mb)
  N = 16;
  nImages = imagesFor(mb, N, n);
  stack = 2 * rand(n, n, N, nImages); grid = bench_grid(stack);
  calls = {@() otk_response_density(stack, 'Margin', 2, 'BinWidth', 0.05), ...
                  @() otk_response_density(grid, 'Margin', 2, 'BinWidth', 0.05)};
  units = nImages * N * n * n;
end

% Images in, responses out: the same numeric call on both routes (the
% function takes no cell grid); per pixel of every response map made.
function [calls, units] = responsesJob(n, mb)
  N = 16;
  count = imagesFor(mb, N, n);
  images = 255 * rand(n, n, count);
  f = @() otk_oriented_responses(images, N);
  calls = {f, f};
  units = count * N * n * n;
end

% Per candidate (pixel and orientation) of every example.
function [calls, units] = learnJob(n, mb)
  N = 16;
  nImages = imagesFor(mb, N, n);
  stack = rand(n, n, N, nImages); grid = bench_grid(stack);
  calls = {@() otk_learn_template(stack, 40), @() otk_learn_template(grid, 40)};
  units = nImages * N * n * n;
end

% Per element and placement (pixel) of every image, one rotation.
function [calls, units] = scoreMapJob(n, mb)
  N = 16; K = 60;
  nImages = imagesFor(mb, N, n);
  stack = rand(n, n, N, nImages); grid = bench_grid(stack);
  tpl = bench_template(n, N, K);
  calls = {@() otk_score_map(stack, tpl), @() otk_score_map(grid, tpl)};
  units = nImages * K * n * n;
end

% No maps: n^2 points (otk_transform_points) and n elements
% (otk_transform_template), so that the sizes still scale the work. Both
% routes are the same numeric call; the cells column repeats it.
function [calls, units] = pointsJob(n, mb) %#ok<INUSD>
  m = n * n;
  rows = round(n * rand(m, 1)); cols = round(n * rand(m, 1)); oris = floor(16 * rand(m, 1));
  f = @() otk_transform_points(16, floor(n / 2), floor(n / 2), rows, cols, oris, 1, -1, 4);
  calls = {f, f};
  units = m;
end

function [calls, units] = moveTemplateJob(n, mb) %#ok<INUSD>
  tpl = bench_template(n, 16, 16 * n);
  move = struct('rowShift', 1, 'columnShift', -1, 'rotation', 4, 'orientations', 16, ...
                'centre', [floor(n / 2), floor(n / 2)]);
  f = @() otk_transform_template(tpl, move);
  calls = {f, f};
  units = 16 * n;
end

% Runs of consecutive sides (each differing by 1 from the one before), as
% index vectors in a cell row.
function groups = groupsOf(sides)
  groups = {};
  first = 1;
  for k = 2:numel(sides) + 1
    if k > numel(sides) || sides(k) ~= sides(k - 1) + 1
      groups{end + 1} = first:k - 1; %#ok<AGROW>
      first = k;
    end
  end
end

% The mean cost of the sizes one pixel either side of sides(k) that the
% sweep has; [] when it has neither.
function around = neighboursOf(sides, cost, k)
  near = find(abs(sides - sides(k)) == 1);
  around = [];
  if ~isempty(near)
    around = mean(cost(near, :), 1);
  end
end

% ------------------------------------------------------------------------

which = getenv('OTK_SWEEP');
if strcmp(which, 'quick')
  sides = [127 128 129 255 256 257];
elseif ~isempty(which)
  sides = str2num(which); %#ok<ST2NM>
else
  sides = [15 16 17 31 32 33 63 64 65 127 128 129 255 256 257 511 512 513];
end
rounds = 10;
% Megabytes of maps per call: the search and scoring batches of the README
% (32 images of 16 maps of 128^2), warps and saturation a quarter of that.
jobs = {
  'Halvery', @(n, mb) halveryJob(n, mb, @Halvery), 'el.img', 64;
  'Halvery reads (floor)', @(n, mb) halveryJob(n, mb, @floor_Halvery, 0), 'el.img', 64;
  'Halvery +lines (floor)', @(n, mb) halveryJob(n, mb, @floor_Halvery, 1), 'el.img', 64;
  'Halvery +ahead (floor)', @(n, mb) halveryJob(n, mb, @floor_Halvery, 2), 'el.img', 64;
  'Wendlow', @wendlowJob, 'el.img', 64;
  'Sabrel', @sabrelJob, 'pixel', 16;
  'Mundle', @mundleJob, 'pixel', 16;
  'Fenwold', @fenwoldJob, 'pixel', 16;
  'Porrith', @porrithJob, 'pixel', 16;
  'otk_score_template', @scoreJob, 'el.img', 64;
  'otk_search_transform', @searchJob, 'el.img', 64;
  'otk_warp_maps', @warpMapsJob, 'pixel', 16;
  'otk_warp_stacks', @warpStacksJob, 'pixel', 16;
  'otk_saturate', @saturateJob, 'pixel', 16;
  'host: new maps (floor)', @hostResultJob, 'pixel', 16;
  'otk_response_density', @densityJob, 'pixel', 16;
  'otk_oriented_responses', @responsesJob, 'pixel', 16;
  'otk_learn_template', @learnJob, 'pixel', 16;
  'otk_score_map', @scoreMapJob, 'el.pixel', 16;
  'otk_transform_points', @pointsJob, 'point', 0;
  'otk_transform_template', @moveTemplateJob, 'element', 0;
};
only = getenv('OTK_SWEEP_ONLY');  % a regular expression on the names
threads = getenv('OTK_NUM_THREADS');
if isempty(threads)
  threads = 'all cores';
end
% On one thread the process's processor time is the cost, and other work
% on the machine hardly moves it; with helper threads (which spin a while
% after each call) only the wall clock tells. OTK_SWEEP_CLOCK=wall or cpu
% overrides.
global useCpu
useCpu = strcmp(threads, '1');
clock = getenv('OTK_SWEEP_CLOCK');
if ~isempty(clock)
  useCpu = strcmp(clock, 'cpu');
end
clockNames = {'wall clock', 'processor time'};
tunables = getenv('GLIBC_TUNABLES');
if isempty(strfind(tunables, 'mmap_threshold'))
  tunables = [tunables ' (no mmap_threshold held: see the help)'];
end
printf('sweep: %d rounds, fastest of %s, threads: %s, GLIBC_TUNABLES=%s, load at start: %s', rounds, ...
       clockNames{1 + useCpu}, threads, tunables, fileread('/proc/loadavg'));
printf('%-23s %5s %10s %10s %6s  %s\n', 'function', 'side', 'array ns', 'cells ns', 'a/c', 'flags');
flagged = 0;
for j = 1:rows(jobs)
  name = jobs{j, 1};
  if ~isempty(only) && isempty(regexp(name, only, 'once'))
    continue;
  end
  if strncmp(name, 'Halvery ', 8) && exist('floor_Halvery') ~= 3
    continue;  % the probe is built into build/bench-mex, not on the path
  end
  % The host's row times interpreted code a cell; only where a map takes
  % long to make does that not show.
  jobSides = sides;
  if strncmp(name, 'host', 4)
    jobSides = sides(sides >= 255);
  end
  probe = ~isempty(strfind(name, '(floor)'));
  cost = zeros(numel(jobSides), 2);
  % Neighbouring sides (a power of two and its neighbours) are timed
  % together, their calls interleaved, so that the load of the machine
  % moves them alike; each group's batches are made, timed and released.
  for g = groupsOf(jobSides)
    group = jobSides(g{1});
    calls = {};
    units = zeros(1, numel(group));
    for k = 1:numel(group)
      rand('state', 33);
      [c, units(k)] = jobs{j, 2}(group(k), jobs{j, 4});
      calls = [calls, c]; %#ok<AGROW>
    end
    t = timeRoutes(calls, rounds);
    cost(g{1}, :) = 1e9 * reshape(t, 2, numel(group))' ./ units';
    clear calls c;
  end
  for k = 1:numel(jobSides)
    flags = '';
    if jobs{j, 4} > 0 && cost(k, 1) > 1.05 * cost(k, 2)
      flags = [flags 'a'];
    end
    around = neighboursOf(jobSides, cost, k);
    if ~isempty(around)
      if cost(k, 1) > 1.15 * around(1)
        flags = [flags 'N'];
      end
      if cost(k, 2) > 1.15 * around(2)
        flags = [flags 'C'];
      end
    end
    flagged = flagged + (~isempty(flags) && ~probe);
    printf('%-23s %5d %10.3f %10.3f %6.2f  %s\n', name, jobSides(k), cost(k, 1), cost(k, 2), ...
           cost(k, 1) / cost(k, 2), flags);
  end
  printf('  (ns per %s)\n', jobs{j, 3});
  fflush(stdout);
end
printf('sweep: %d sizes flagged (probes not counted); load at end: %s', flagged, fileread('/proc/loadavg'));
