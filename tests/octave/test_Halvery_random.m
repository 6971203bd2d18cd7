% Halvery against a plain reference written in the host language, bit for
% bit, on random calls: several images and orientations, shifts and
% orientation ranges, saturation, NaN and negative responses, elements near
% and beyond the border (drawing clipped), accumulation onto non-zero starts,
% render maps partly below zero (a pooled value of 0 draws nothing), and the
% same bits for 1, 2 and 8 threads.

seed = 11;
rand('state', seed); randn('state', seed);
for trial = 1:40
  nImages = randi(3); N = randi(6); nRows = randi([3 12]); nCols = randi([3 12]);
  patchHalf = randi([0 3]); shiftRange = randi([0 3]); oriRange = randi([0 N]);
  shiftStep = randi([-2 3]); nElements = randi([0 6]); saturation = 0.2 + 2 * rand();
  maps = cell(nImages, N);
  for k = 1:numel(maps)
    m = 3 * rand(nRows, nCols) - 0.5;
    m(rand(nRows, nCols) < 0.05) = NaN;
    maps{k} = m;
  end
  patches = cell(N, 1);
  for k = 1:N
    patches{k} = 2 * rand(2 * patchHalf + 1) - 0.5;
  end
  ori = floor(N * rand(1, nElements)) + 0.3 * rand(1, nElements);
  ex = floor((nRows + 4) * rand(1, nElements)) - 1.5 + rand(1, nElements);
  ey = floor((nCols + 4) * rand(1, nElements)) - 1.5 + rand(1, nElements);
  w = randn(1, nElements); b = rand(1, nElements);
  renders = cell(nImages, 1);
  for k = 1:nImages
    renders{k} = (rand(nRows, nCols) - 0.5 * (trial > 10)) * (trial > 5);
  end
  scores = randn(nImages, 1);
  pooled = zeros(nImages, max(nElements, 1));

  [rs, rp, rr] = halvery_reference(nImages, N, maps, patchHalf, nRows, nCols, ori, ex, ey, w, b, ...
                                   patches, renders, shiftRange, oriRange, shiftStep, nElements, ...
                                   saturation, scores + 0, pooled + 0);
  myScores = scores + 0; myPooled = pooled + 0;
  myRenders = cellfun(@(r) r + 0, renders, 'UniformOutput', false);
  Halvery(nImages, N, maps, {}, patchHalf, nRows, nCols, 0, ori, ex, ey, w, b, patches, myRenders, ...
          shiftRange, oriRange, shiftStep, nElements, saturation, myScores, myPooled, 0, 0, 0, 0);
  assert(isequal(typecast(myScores(:), 'uint64'), typecast(rs(:), 'uint64')), sprintf('scores differ in trial %d (seed %d)', trial, seed));
  assert(isequal(typecast(myPooled(:), 'uint64'), typecast(rp(:), 'uint64')), sprintf('pooled values differ in trial %d (seed %d)', trial, seed));
  for k = 1:nImages
    assert(isequal(typecast(myRenders{k}(:), 'uint64'), typecast(rr{k}(:), 'uint64')), ...
           sprintf('render map %d differs in trial %d (seed %d)', k, trial, seed));
  end
end

% A call with work enough for helper threads: the same bits for 1, 2 and 8.
nImages = 6; N = 4; n = 40; nElements = 400;
maps = cell(nImages, N);
for k = 1:numel(maps)
  maps{k} = rand(n) - 0.2;
end
patches = {rand(5), rand(5), rand(5), rand(5)};
ori = floor(N * rand(1, nElements)); ex = 1 + floor(n * rand(1, nElements)); ey = 1 + floor(n * rand(1, nElements));
w = randn(1, nElements); b = rand(1, nElements);
runs = {};
for threads = [1 2 8]
  setenv('OTK_NUM_THREADS', sprintf('%d', threads));
  s = zeros(nImages, 1); p = zeros(nImages, nElements); r = repmat({zeros(n) - 0.1}, nImages, 1);
  Halvery(nImages, N, maps, {}, 2, n, n, 0, ori, ex, ey, w, b, patches, r, 2, 1, 1, nElements, 0.9, s, p, 0, 0, 0, 0);
  runs{end + 1} = typecast([s(:); p(:); cell2mat(r)(:)], 'uint64');
end
unsetenv('OTK_NUM_THREADS');
assert(isequal(runs{1}, runs{2}) && isequal(runs{1}, runs{3}), sprintf('thread counts differ (seed %d)', seed));
printf('test_Halvery_random: 40 random calls identical to the reference, threads agree\n');

% Response maps, patches and render maps given as cells, as one double array
% each, or as a longer array, in every mix: the bits of the all-cell call.
seed = 13;
rand('state', seed); randn('state', seed);
for trial = 1:12
  forms = randi(3, 1, 3);
  if trial <= 2
    forms(:) = 1 + trial;  % every grid an array, then every grid a longer one
  end
  nImages = randi(3); N = randi(5); nRows = randi([3 9]); nCols = randi([3 9]);
  half = randi([0 2]); nElements = randi([1 5]); shiftRange = randi([0 2]); oriRange = randi([0 min(N, 2)]);
  maps = cell(nImages, N); patches = cell(N, 1); renders = cell(nImages, 1);
  for k = 1:numel(maps)
    maps{k} = 2 * rand(nRows, nCols) - 0.3;
  end
  for k = 1:N
    patches{k} = rand(2 * half + 1) - 0.2;
  end
  for k = 1:nImages
    renders{k} = rand(nRows, nCols) - 0.3;
  end
  ori = floor(N * rand(1, nElements)); ex = 1 + floor(nRows * rand(1, nElements));
  ey = 1 + floor(nCols * rand(1, nElements)); w = randn(1, nElements); b = rand(1, nElements);
  call = @(m, p, r, s, q) Halvery(nImages, N, m, {}, half, nRows, nCols, 0, ori, ex, ey, w, b, p, r, ...
                                  shiftRange, oriRange, 1, nElements, 0.9, s, q, 0, 0, 0, 0);
  s1 = zeros(nImages, 1); p1 = zeros(nImages, nElements); r1 = maps_as(renders, 1);
  call(maps_as(maps, 1), maps_as(patches, 1), r1, s1, p1);
  s2 = zeros(nImages, 1); p2 = zeros(nImages, nElements); r2 = maps_as(renders, forms(3));
  call(maps_as(maps, forms(1)), maps_as(patches, forms(2)), r2, s2, p2);
  assert(all(s1 ~= 0) && maps_same(s1, s2, nImages) && maps_same(p1, p2, numel(p1)) && ...
         maps_same(r1, r2, nImages * nRows * nCols), ...
         sprintf('arrays for grids (forms %d %d %d) differ from cells in trial %d (seed %d)', forms, trial, seed));
end
printf('test_Halvery_random: grids as arrays give the bits of cells\n');
