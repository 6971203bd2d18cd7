% The function layer is pure, so a batch split across processes gives the
% same bits as one process: parcellfun (Octave's parallel package) on 2
% processes, one image per job, against one call on the whole batch.

if isempty(pkg('list', 'parallel'))
  printf('test_otk_parallel: SKIPPED, the parallel package is not installed (Debian: octave-parallel)\n');
  return;
end
pkg('load', 'parallel');

seed = 5;
rand('state', seed);
nImages = 6; N = 8; nRows = 24; nCols = 24;
stack = rand(nRows, nCols, N, nImages);
tpl = otk_template(randi([0 N - 1], 1, 10), randi([6 18], 1, 10), randi([6 18], 1, 10), 1, 0.2);
jobs = num2cell(1:nImages);
same = @(a, b) isequal(size(a), size(b)) && isequal(typecast(a(:), 'uint64'), typecast(b(:), 'uint64'));

[scores, pooled, renders] = otk_score_template(stack, tpl);
[best, dr, dc, rot] = otk_search_transform(stack, tpl);
[density, count] = otk_response_density(stack, 'Margin', 2);

score_one = @(i) otk_score_template(stack(:, :, :, i), tpl);
search_one = @(i) otk_search_transform(stack(:, :, :, i), tpl);
density_one = @(i) otk_response_density(stack(:, :, :, i), 'Margin', 2);
[s, p, r] = parcellfun(2, score_one, jobs, 'UniformOutput', false, 'VerboseLevel', 0);
[b, x, y, o] = parcellfun(2, search_one, jobs, 'UniformOutput', false, 'VerboseLevel', 0);
[d, n] = parcellfun(2, density_one, jobs, 'UniformOutput', false, 'VerboseLevel', 0);

assert(same(vertcat(s{:}), scores) && same(vertcat(p{:}), pooled) && same(cat(3, r{:}), renders), ...
       sprintf('scores differ across processes (seed %d)', seed));
assert(same([vertcat(b{:}), vertcat(x{:}), vertcat(y{:}), vertcat(o{:})], [best, dr, dc, rot]), ...
       sprintf('search answers differ across processes (seed %d)', seed));
% Densities pool by count: accumulate, then normalise once.
counts = [n{:}];
assert(sum(counts) == count);
pooledDensity = sum(vertcat(d{:}) .* counts', 1) / sum(counts);
assert(max(abs(pooledDensity - density)) < 1e-12, sprintf('densities differ (seed %d)', seed));
printf('test_otk_parallel: %d images on 2 processes, the same bits as one process\n', nImages);
