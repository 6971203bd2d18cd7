% Wendlow against plain loops in the host language, bit for bit, on random
% calls: N from 1 to 20 (above 16 too), orientations outside 0..N-1,
% elements inside and outside the maps, pooling ranges, negative weights,
% biases large enough that no candidate may win.

seed = 23;  % both generators; printed with any failure
rand('state', seed); randn('state', seed);
same = @(a, b) isequal(typecast(a(:), 'uint64'), typecast(b(:), 'uint64'));
for trial = 1:25
  nImages = randi(3); N = randi(20); nRows = randi([4 12]); nCols = randi([4 12]);
  shiftRange = randi([0 2]); oriRange = randi([0 min(N, 2)]); shiftStep = randi([-1 2]);
  nElements = randi([0 5]); saturation = 0.3 + rand();
  maps = cell(nImages, N);
  for k = 1:numel(maps)
    maps{k} = 2 * rand(nRows, nCols) - 0.3;
  end
  ori = floor(3 * N * rand(1, nElements)) - N + 0.5;
  ex = floor((nRows + 6) * rand(1, nElements)) - 2.5;
  ey = floor((nCols + 6) * rand(1, nElements)) - 2.5;
  w = randn(1, nElements);
  b = rand(1, nElements) * (1 + 600 * (trial == 3));
  start = -5 * ones(nImages, 1);
  [eb, ex2, ey2, eo] = wendlow_reference(nImages, N, maps, nRows, nCols, ori, ex, ey, w, b, shiftRange, ...
                                         oriRange, shiftStep, nElements, saturation, start, start, start);
  best = zeros(nImages, 1); bX = start + 0; bY = start + 0; bO = start + 0;
  Wendlow(nImages, N, maps, {}, 0, nRows, nCols, 0, ori, ex, ey, w, b, {}, {}, shiftRange, oriRange, ...
          shiftStep, nElements, saturation, best, 0, 0, 0, 0, 0, bX, bY, bO);
  assert(same(best, eb) && same(bX, ex2) && same(bY, ey2) && same(bO, eo), sprintf('trial %d differs (seed %d)', trial, seed));
end
printf('test_Wendlow_random: 25 random calls identical to the plain loops\n');

% A search with work enough for helper threads, on one image (split by
% candidates) and on several: the same bits for 1, 2 and 8 threads.
seed = 29;
rand('state', seed); randn('state', seed);
N = 16; n = 48; nElements = 300;
ori = floor(N * rand(1, nElements)); ex = 1 + floor(n * rand(1, nElements)); ey = 1 + floor(n * rand(1, nElements));
w = randn(1, nElements); b = rand(1, nElements) / 4;
for nImages = [1 5]
  maps = cell(nImages, N);
  for k = 1:numel(maps)
    maps{k} = rand(n) .^ 4;
  end
  runs = {};
  for threads = [1 2 8]
    setenv('OTK_NUM_THREADS', sprintf('%d', threads));
    r = {zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1)};
    Wendlow(nImages, N, maps, {}, 0, n, n, 0, ori, ex, ey, w, b, {}, {}, 2, 1, 1, nElements, 0.9, ...
            r{1}, 0, 0, 0, 0, 0, r{2}, r{3}, r{4});
    runs{end + 1} = typecast([r{:}](:), 'uint64');
  end
  unsetenv('OTK_NUM_THREADS');
  assert(isequal(runs{1}, runs{2}) && isequal(runs{1}, runs{3}), ...
         sprintf('%d images: thread counts differ (seed %d)', nImages, seed));
end
printf('test_Wendlow_random: threads agree\n');

% The response maps as one double array, or a longer one: the bits of cells.
seed = 31;
rand('state', seed); randn('state', seed);
for trial = 1:8
  nImages = randi(3); N = randi(8); nRows = randi([4 10]); nCols = randi([4 10]); nElements = randi([1 5]);
  maps = cell(nImages, N);
  for k = 1:numel(maps)
    maps{k} = rand(nRows, nCols) .^ 3 - 0.1;
  end
  ori = floor(N * rand(1, nElements)); ex = 1 + floor(nRows * rand(1, nElements));
  ey = 1 + floor(nCols * rand(1, nElements)); w = randn(1, nElements); b = rand(1, nElements);
  runs = {};
  for form = [1, 2 + mod(trial, 2)]
    r = {zeros(nImages, 1), NaN(nImages, 1), NaN(nImages, 1), NaN(nImages, 1)};
    Wendlow(nImages, N, maps_as(maps, form), {}, 0, nRows, nCols, 0, ori, ex, ey, w, b, {}, {}, 1, ...
            min(N, 1), 1, nElements, 0.9, r{1}, 0, 0, 0, 0, 0, r{2}, r{3}, r{4});
    runs{end + 1} = typecast([r{:}](:), 'uint64');
  end
  assert(~any(isnan([r{:}](:))) && isequal(runs{1}, runs{2}), ...
         sprintf('maps as an array differ from cells in trial %d (seed %d)', trial, seed));
end
printf('test_Wendlow_random: maps as arrays give the bits of cells\n');
