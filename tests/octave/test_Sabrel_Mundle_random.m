% Sabrel and Mundle against plain loops in the host language, bit for bit,
% on random calls: odd and even sizes, rotations of any sign and size,
% truncated fractional parameters, several maps and images at once.

seed = 5;  % both generators; printed with any failure
rand('state', seed);
randn('state', seed);
same = @(a, b) isequal(size(a), size(b)) && isequal(typecast(a(:), 'uint64'), typecast(b(:), 'uint64'));
for trial = 1:30
  stacks = trial > 15;
  n = randi(3); N = randi(8); sx = randi([1 9]); sy = randi([1 9]);
  channels = 1;
  if stacks
    channels = N;
  end
  sources = cell(n, channels);
  results = cell(n, channels);
  for k = 1:numel(sources)
    sources{k} = randn(sx, sy);
    results{k} = 7 * ones(sx, sy);
  end
  dX = 6 * rand(1, n) - 3; dY = 6 * rand(1, n) - 3; dO = 4 * N * rand(1, n) - 2 * N;
  expected = warp_reference(n, N, sources, results, sx, sy, dX, dY, dO, stacks);
  if stacks
    Mundle(n, N, sources, results, sx, sy, dX, dY, dO);
  else
    Sabrel(n, N, sources, results, sx, sy, dX, dY, dO);
  end
  for k = 1:numel(results)
    assert(same(results{k}, expected{k}), sprintf('trial %d, map %d differs (seed %d)', trial, k, seed));
  end
end
printf('test_Sabrel_Mundle_random: 30 random calls identical to the plain loops\n');

% Sources and results given as cells, as one double array each, or as a
% longer array, in every mix, and one array as both (results in place): the
% bits of the call on separate cells, the sources read only.
seed = 9;
rand('state', seed); randn('state', seed);
for trial = 1:16
  stacks = mod(trial, 2) == 0;
  n = randi(3); N = randi(6); sx = randi([1 7]); sy = randi([1 7]);
  channels = 1 + (N - 1) * stacks;
  sources = cell(n, channels);
  for k = 1:numel(sources)
    sources{k} = randn(sx, sy);
  end
  results = repmat({7 * ones(sx, sy)}, n, channels);
  dX = 4 * rand(1, n) - 2; dY = 4 * rand(1, n) - 2; dO = 4 * N * rand(1, n) - 2 * N;
  warp = @Sabrel;
  if stacks
    warp = @Mundle;
  end
  count = numel(sources) * sx * sy;
  expected = maps_as(results, 1);
  warp(n, N, maps_as(sources, 1), expected, sx, sy, dX, dY, dO);
  if trial <= 4  % one array as sources and results, exact and longer
    form = 2 + (trial > 2);
    a = maps_as(sources, form);
    warp(n, N, a, a, sx, sy, dX, dY, dO);
    ok = maps_same(a, expected, count);
  else
    forms = randi(3, 1, 2);
    s = maps_as(sources, forms(1)); r = maps_as(results, forms(2));
    warp(n, N, s, r, sx, sy, dX, dY, dO);
    ok = maps_same(r, expected, count) && maps_same(s, sources, count);
    form = forms(2);
  end
  assert(ok && ~maps_same(expected, results, count), ...
         sprintf('trial %d (form %d) differs from the cells (seed %d)', trial, form, seed));
end
printf('test_Sabrel_Mundle_random: maps as arrays give the bits of cells, in place too\n');
