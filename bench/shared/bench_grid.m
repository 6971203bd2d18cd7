% BENCH_GRID  The nImages x N cell grid of an nRows x nCols x N x nImages
% stack of maps. Its maps are the host's views into the stack: the same
% memory, read through the other route.
function maps = bench_grid(stack)
  [~, ~, N, nImages] = size(stack);
  maps = cell(nImages, N);
  for i = 1:nImages
    for o = 1:N
      maps{i, o} = stack(:, :, o, i);
    end
  end
end
