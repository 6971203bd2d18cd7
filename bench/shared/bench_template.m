% BENCH_TEMPLATE  The benchmarks' random template: K elements at whole
% positions inside a disc of radius 0.4*n about the centre of n x n maps,
% orientations uniform in 0..N-1, weights 0.5 to 2, biases 0 to 0.2, drawn
% from rand as it is seeded.
function tpl = bench_template(n, N, K)
  r = 0.4 * n * sqrt(rand(1, K));
  a = 2 * pi * rand(1, K);
  tpl = otk_template(floor(rand(1, K) * N), round(n / 2 + r .* cos(a)), round(n / 2 + r .* sin(a)), ...
                     0.5 + 1.5 * rand(1, K), 0.2 * rand(1, K));
end
