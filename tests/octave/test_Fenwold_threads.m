% Fenwold in the real host gives the same bits for 1, 2 and 8 threads, and
% the bits of the plain exp steps, on a grid large enough to be split into
% element ranges that straddle maps; a grid holding one block twice
% saturates it twice with threads available.

seed = 20261209;
rand('state', seed); randn('state', seed);
previous = getenv('OTK_NUM_THREADS');
nImages = 4; N = 4; nRows = 131; nCols = 139;   % 291,316 elements: 8 threads' worth
maps = cell(nImages, N);
for k = 1:numel(maps)
  maps{k} = randn(nRows, nCols) .* (rand(nRows, nCols) * 30);
end
maps{2}(5, 7) = NaN;
expected = cellfun(@(x) sat_sigmoid(x, 1.3), maps, 'UniformOutput', false);
bits = @(c) typecast(cell2mat(cellfun(@(x) x(:), c(:), 'UniformOutput', false)), 'uint64');
% Threads and the helpers' spin time (0: they sleep between calls).
for setting = [1 0; 2 0; 2 1000; 8 0; 8 1000]'
  setenv('OTK_NUM_THREADS', num2str(setting(1)));
  setenv('OTK_SPIN_US', num2str(setting(2)));
  m = cellfun(@(x) x + 0, maps, 'UniformOutput', false);
  Fenwold(nImages, N, m, nRows, nCols, 1.3);
  if ~isequal(bits(m), bits(expected))
    error('test:threads', 'Fenwold with %d threads, spin %d us, differs from the plain steps (seed %d)', ...
          setting(1), setting(2), seed);
  end
end
unsetenv('OTK_SPIN_US');

% One block in cells 1 and 6 of 8: saturated twice, the others once. The
% variable a shares that block too, so the expectation comes from a copy.
a = randn(nRows, nCols);
a0 = a + 0;
c = cell(2, 4);
for k = 1:8
  c{k} = randn(nRows, nCols);
end
c{1} = a; c{6} = a;
others = c{3} + 0;
setenv('OTK_NUM_THREADS', '8');
Fenwold(2, 4, c, nRows, nCols, 0.7);
assert(isequal(bits({c{1}}), bits({sat_sigmoid(sat_sigmoid(a0, 0.7), 0.7)})));
assert(isequal(bits({c{6}}), bits({c{1}})));
assert(isequal(bits({c{3}}), bits({sat_sigmoid(others, 0.7)})));

setenv('OTK_NUM_THREADS', previous);
disp('test_Fenwold_threads: all checks passed');
