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
