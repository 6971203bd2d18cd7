% Sabrel and Mundle in the real host give the same bits on 1, 2 and 8
% threads: several maps each with its own transform, one big map split by
% columns, stacks of orientation channels, and stacks warped in place.

seed = 20261209;
rand('state', seed); randn('state', seed);
bits = @(c) typecast(cell2mat(cellfun(@(m) m(:), c(:), 'UniformOutput', false)), 'uint64');
function out = run_sabrel(n, N, src, sx, sy, dX, dY, dO)
  out = cellfun(@(m) zeros(size(m)), src, 'UniformOutput', false);
  Sabrel(n, N, src, out, sx, sy, dX, dY, dO);
end
function out = run_mundle(n, N, src, sx, sy, dX, dY, dO, inPlace)
  if inPlace
    out = cellfun(@(m) m + 0, src, 'UniformOutput', false);  % fresh storage, shared by sources and results
    Mundle(n, N, out, out, sx, sy, dX, dY, dO);
  else
    out = cellfun(@(m) zeros(size(m)), src, 'UniformOutput', false);
    Mundle(n, N, src, out, sx, sy, dX, dY, dO);
  end
end

maps = {randn(300, 301), randn(300, 301), randn(300, 301)};
big = {randn(640, 500)};
stack = arrayfun(@(k) randn(160), 1:12, 'UniformOutput', false);
stack = reshape(stack, 3, 4);
results = {};
% 2 threads whose helpers sleep between calls, 8 whose helpers stay awake.
for setting = [1 0; 2 0; 8 1000]'   % threads, spin (us)
  setenv('OTK_NUM_THREADS', sprintf('%d', setting(1)));
  setenv('OTK_SPIN_US', sprintf('%d', setting(2)));
  r1 = run_sabrel(3, 16, maps, 300, 301, [3 -7 0], [1 2 -20], [5 -37 100]);
  r2 = run_sabrel(1, 16, big, 640, 500, 4, -3, 7);
  r3 = run_mundle(3, 4, stack, 160, 160, [1 0 -2], [0 5 1], [3 -6 9], false);
  r4 = run_mundle(3, 4, stack, 160, 160, [1 0 -2], [0 5 1], [3 -6 9], true);
  results{end + 1} = [bits(r1); bits(r2); bits(r3); bits(r4)];
end
unsetenv('OTK_NUM_THREADS');
unsetenv('OTK_SPIN_US');
assert(isequal(bits(r3), bits(r4)), 'in place differs from out of place');
if ~isequal(results{1}, results{2}) || ~isequal(results{1}, results{3})
  error('test:threads', 'Sabrel/Mundle results depend on the thread count (seed %d)', seed);
end
printf('test_Sabrel_Mundle_threads: the same bits on 1, 2 and 8 threads\n');
