% Fenwold in the real host: values, limits, in-place results in every cell,
% shared cells, and wrong calls that raise named errors and change nothing.

% Known values to 14 digits, and the exact limits.
m = {[1, -1, 0, 40, -40, -400, 1e300]};
Fenwold(1, 1, m, 1, 7, 2);
assert(abs(m{1}(1) - 0.92423431452002) < 5e-15);
assert(m{1}(2) == -m{1}(1));
assert(isequal(m{1}(3:7), [0, 2, -2, -2, 2]));
m = {0.5, 100};
Fenwold(1, 1, m(1), 1, 1, 1);
Fenwold(1, 1, m(2), 1, 1, 50);
assert(abs(m{1} - 0.46211715726001) < 5e-15);
assert(abs(m{2} - 48.201379003791) < 5e-13);

% Level 0: 1 becomes 0, -1 becomes -0, 0 becomes NaN.
m = {[1, -1, 0]};
Fenwold(1, 1, m, 1, 3, 0);
assert(m{1}(1) == 0 && 1 / m{1}(1) == Inf);
assert(m{1}(2) == 0 && 1 / m{1}(2) == -Inf);
assert(isnan(m{1}(3)));

% A 2 x 3 grid: every cell saturated in place, twice over two calls, and
% the column past nCols left alone.
maps = cell(2, 3);
for k = 1:6
  maps{k} = reshape((1:12) * 0.4 * k - 3, 3, 4);
end
before = cellfun(@(x) x + 0, maps, 'UniformOutput', false);
Fenwold(2, 3, maps, 3, 3, 1.5);
Fenwold(2, 3, maps, 3, 3, 1.5);
for k = 1:6
  assert(isequal(maps{k}(:, 1:3), sat_sigmoid(sat_sigmoid(before{k}(:, 1:3), 1.5), 1.5)));
  assert(isequal(maps{k}(:, 4), before{k}(:, 4)));
end

% A block held by two cells is saturated once for each of them.
a = ones(2);
c = {a, a};
Fenwold(1, 2, c, 2, 2, 1);
assert(isequal(c{1}, sat_sigmoid(sat_sigmoid(ones(2), 1), 1)));
assert(isequal(c{2}, c{1}));

% Empty grids and maps touch nothing.
Fenwold(0, 3, {}, 5, 5, 1);
m = {[1 2; 3 4]};
Fenwold(1, 1, m, 0, 2, 1);
Fenwold(1, 0, m, 2, 2, 1);
assert(isequal(m{1}, [1 2; 3 4]));

% The grid as one double array, or a longer one: saturated in place to the
% bits of the cells, the elements past the maps untouched.
seed = 17;
randn('state', seed); rand('state', seed);
for trial = 1:6
  nImages = randi(3); N = randi(4); nRows = randi(6); nCols = randi(6); level = 0.5 + rand();
  grid = cell(nImages, N);
  for k = 1:numel(grid)
    grid{k} = 3 * randn(nRows, nCols);
  end
  c = maps_as(grid, 1);
  Fenwold(nImages, N, c, nRows, nCols, level);
  a = maps_as(grid, 2 + mod(trial, 2));
  Fenwold(nImages, N, a, nRows, nCols, level);
  count = numel(grid) * nRows * nCols;
  assert(maps_same(a, c, count) && ~maps_same(c, grid, count), ...
         sprintf('the grid as an array differs from cells in trial %d (seed %d)', trial, seed));
end

% Wrong calls: a named error, and every map bit-identical.
function check_untouched(id, a)
  maps = a{3};
  if ~iscell(maps)
    maps = {maps};
  end
  before = cellfun(@(x) x + 0, maps, 'UniformOutput', false);
  expect_error(id, @Fenwold, a{:});
  assert(isequal(before, maps));
end

args = @() {2, 1, {[1 2; 3 4], [5 6; 7 8]}, 2, 2, 1};
a = args(); check_untouched('Fenwold:nargin', a(1:5));
a = args(); a{1} = 'x'; check_untouched('Fenwold:notScalar', a);
a = args(); a{1} = -1; check_untouched('Fenwold:negativeCount', a);
a = args(); a{5} = NaN; check_untouched('Fenwold:notFinite', a);
a = args(); a{3} = int32([1 2; 3 4]); check_untouched('Fenwold:notCell', a);
a = args(); a{3} = [1 2; 3 4]; check_untouched('Fenwold:tooFewMaps', a);
a = args(); a{2} = 2; check_untouched('Fenwold:tooFewCells', a);
a = args(); a{4} = 3; check_untouched('Fenwold:cellTooSmall', a);
a = args(); a{3}{2} = single([5 6; 7 8]); check_untouched('Fenwold:badCell', a);
a = args(); a{3}{2} = 'ab'; check_untouched('Fenwold:badCell', a);
a = args(); a{6} = [1 2]; check_untouched('Fenwold:notScalar', a);
a = args(); a{6} = 1i; check_untouched('Fenwold:notScalar', a);

message = '';
try
  a = args(); a{6} = 'level';
  Fenwold(a{:});
catch err
  message = err.message;
end
assert(~isempty(strfind(message, 'saturationLevel (argument 6)')));

disp('test_Fenwold: all checks passed');
