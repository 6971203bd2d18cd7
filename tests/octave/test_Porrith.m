% Porrith in the real host: the region, the bins, the normalisation, shared
% cells, and wrong calls that raise named errors and change nothing.

% The worked histograms: 0.5 lands in bin 1, 100 saturates to 1 and is capped.
a = sat_porrith_args(0.5);
Porrith(a{:});
assert(isequal(a{9}, [0 4 0 0]));
assert(abs(a{3}{1}(2, 2) - 0.46211715726001) < 5e-15);
a = sat_porrith_args(100);
Porrith(a{:});
assert(isequal(a{9}, [0 0 0 4]));
assert(a{3}{1}(2, 2) == 1);

% Bins include their lower edge: level 0.5 makes q exactly 0.5, bin 2.
a = sat_porrith_args(100); a{10} = 0.5;
Porrith(a{:});
assert(isequal(a{9}, [0 0 4 0]));

% NaN goes to the last bin; negative responses to bin 0 (counted).
a = sat_porrith_args(NaN);
Porrith(a{:});
assert(isequal(a{9}, [0 0 0 4]));
a = sat_porrith_args(-3);
Porrith(a{:});
assert(isequal(a{9}, [4 0 0 0]));

% The histogram is added to and scaled.
a = sat_porrith_args(100); a{10} = 0.5; a{9} = [1 0 0 0];
Porrith(a{:});
assert(isequal(a{9}, [4 0 4 0]));

% The border is saturated too, and never binned: margin 0 on 4 x 4 bins
% rows and columns 1-3 only.
m = 100 * ones(4);
m(1:3, 1:3) = 0.5;
m(3, 3) = 100;
expected = sat_sigmoid(m, 1);
maps = {m + 0};
h = zeros(1, 4);
Porrith(1, 1, maps, 0, 4, 4, 0.25, 4, h, 1);
assert(isequal(h, [0, 8 / (0.25 * 9), 0, 1 / (0.25 * 9)]));
assert(isequal(maps{1}, expected));

% 5 rows x 4 columns, margin 1: rows 2-3 of column 2.
m = 100 * ones(5, 4);
m(2:3, 2) = 0.5;
h = zeros(1, 4);
Porrith(1, 1, {m}, 1, 5, 4, 0.25, 4, h, 1);
assert(isequal(h, [0 4 0 0]));

% An empty region: 3 x 3 with margin 1 divides every bin by 0.
h = [2 0 -1 0];
Porrith(1, 1, {ones(3)}, 1, 3, 3, 0.25, 4, h, 1);
assert(h(1) == Inf && isnan(h(2)) && h(3) == -Inf && isnan(h(4)));

% A block held by two cells: saturated twice, binned twice.
b = 100 * ones(4);
c = {b, b};
h = zeros(1, 5);
Porrith(1, 2, c, 1, 4, 4, 0.2, 5, h, 1);
assert(isequal(c{1}, sat_sigmoid(ones(4), 1)) && isequal(c{2}, c{1}));
assert(isequal(h, [0 0 0 5 0]));

% A grid of 2 x 2 maps against the plain pixel-major loops.
maps = cell(2, 2);
for k = 1:4
  maps{k} = mod(reshape((1:42) * 0.137 * k, 7, 6), 1.2);
end
maps{3}(4, 3) = NaN;
before = cellfun(@(x) x + 0, maps, 'UniformOutput', false);
h = zeros(1, 8);
h(:) = (0:7) * 0.3 + 0.1;
expected = h + 0;
Porrith(2, 2, maps, 1, 7, 6, 0.1, 8, h, 1.3);
count = 0;
for r = 2:5
  for col = 2:4
    for k = 1:4
      q = sat_sigmoid(before{k}(r, col), 1.3);
      f = floor(q / 0.1);
      if 7 > f
        bin = max(f, 0);
      else
        bin = 7;
      end
      expected(bin + 1) = expected(bin + 1) + 1;
      count = count + 1;
    end
  end
end
expected = expected / (0.1 * count);
assert(isequal(h, expected));
for k = 1:4
  assert(isequaln(maps{k}, sat_sigmoid(before{k}, 1.3)));
end

% A histogram that is also the map (its first column): counts change values
% still to be binned, in the plain pixel-major order.
m = 0.1 * ones(4);
m(1, 2) = 0.4;
expected = sat_sigmoid(m, 1);
count = 0;
for r = 1:3
  for col = 1:3
    bin = min(floor(expected(r, col) / 0.25), 3);
    expected(bin + 1) = expected(bin + 1) + 1;
    count = count + 1;
  end
end
expected(1:4) = expected(1:4) / (0.25 * count);
Porrith(1, 1, {m}, 0, 4, 4, 0.25, 4, m, 1);
assert(isequal(m, expected));

% A histogram that is the second map's first column: the plain order too.
m1 = 0.1 * ones(4); m1(2, 1) = 0.3;
m2 = 0.1 * ones(4); m2(1, 2) = 0.4;
S = {sat_sigmoid(m1, 1), sat_sigmoid(m2, 1)};
count = 0;
for r = 1:3
  for col = 1:3
    for k = 1:2
      bin = min(floor(S{k}(r, col) / 0.25), 3);
      S{2}(bin + 1) = S{2}(bin + 1) + 1;
      count = count + 1;
    end
  end
end
S{2}(1:4) = S{2}(1:4) / (0.25 * count);
c = {m1, m2};
Porrith(1, 2, c, 0, 4, 4, 0.25, 4, m2, 1);
assert(isequal(m2, S{2}) && isequal(c{2}, S{2}) && isequal(c{1}, S{1}));

% One array passed as a map and as a histogram longer than the map: the maps
% are 100 x 87 arrays of which 100 x 85 is read, the histogram of 8700 bins
% holds the map and runs past it. Counts change values still to be binned,
% so the plain order alone gives the plain result, with one thread or two
% (the call is large enough for two).
maps = cell(2, 2);
for k = 1:4
  maps{k} = mod(reshape((1:8700) * 0.0137 * k, 100, 87), 1.2);
end
a = {2, 2, maps, 0, 100, 85, 0.07, 8700, maps{2}, 1};
expected = porrith_shared_reference(a, 9, [3 2]);
previous = getenv('OTK_NUM_THREADS');
for threads = [1 2]
  setenv('OTK_NUM_THREADS', num2str(threads));
  c = cellfun(@(x) x + 0, maps, 'UniformOutput', false);
  Porrith(2, 2, c, 0, 100, 85, 0.07, 8700, c{2}, 1);
  if ~isequal(bits_of(c), bits_of(expected{3}))
    error('test:sharedHistogram', 'a histogram holding a map, %d threads: not the plain result', threads);
  end
end
setenv('OTK_NUM_THREADS', previous);

% A region empty in one direction only (two rows, no column) bins nothing:
% binWidth 0 is no error, and every bin becomes 0 / 0.
h = zeros(1, 3);
m = {0.5 * ones(5, 3)};
Porrith(1, 1, m, 1, 5, 3, 0, 3, h, 1);
assert(all(isnan(h)) && isequal(m{1}, sat_sigmoid(0.5 * ones(5, 3), 1)));

% The grid as one double array, or a longer one: the histogram and the maps
% saturated in place have the bits of the cells, the elements past the maps
% untouched.
seed = 19;
randn('state', seed); rand('state', seed);
for trial = 1:6
  nImages = randi(3); N = randi(4); nRows = randi([3 8]); nCols = randi([3 8]);
  margin = randi([0 1]); nBins = randi([2 9]); level = 0.5 + rand();
  grid = cell(nImages, N);
  for k = 1:numel(grid)
    grid{k} = 2 * rand(nRows, nCols) - 0.2;
  end
  c = maps_as(grid, 1); hc = zeros(1, nBins);
  Porrith(nImages, N, c, margin, nRows, nCols, level / nBins, nBins, hc, level);
  a = maps_as(grid, 2 + mod(trial, 2)); ha = zeros(1, nBins);
  Porrith(nImages, N, a, margin, nRows, nCols, level / nBins, nBins, ha, level);
  count = numel(grid) * nRows * nCols;
  assert(maps_same(a, c, count) && maps_same(ha, hc, nBins) && any(hc ~= 0), ...
         sprintf('the grid as an array differs from cells in trial %d (seed %d)', trial, seed));
end

% Wrong calls: a named error, and the maps and histogram bit-identical
% (everything is checked before anything is saturated).
function check_untouched(id, a)
  maps = a{3};
  if ~iscell(maps)
    maps = {maps};
  end
  before = {maps{1} + 0, a{9} + 0};
  expect_error(id, @Porrith, a{:});
  assert(isequal(before, {maps{1}, a{9}}));
end

a = sat_porrith_args(0.5); check_untouched('Porrith:nargin', a(1:9));
a = sat_porrith_args(0.5); a{1} = {}; check_untouched('Porrith:notScalar', a);
a = sat_porrith_args(0.5); a{2} = -1; check_untouched('Porrith:negativeCount', a);
a = sat_porrith_args(0.5); a{3} = 'text'; check_untouched('Porrith:notCell', a);
a = sat_porrith_args(0.5); a{3} = zeros(2); check_untouched('Porrith:tooFewMaps', a);
a = sat_porrith_args(0.5); a{2} = 2; check_untouched('Porrith:tooFewCells', a);
a = sat_porrith_args(0.5); a{6} = 5; check_untouched('Porrith:cellTooSmall', a);
a = sat_porrith_args(0.5); a{4} = -1; check_untouched('Porrith:margin', a);
a = sat_porrith_args(0.5); a{7} = 0; check_untouched('Porrith:binWidth', a);
a = sat_porrith_args(0.5); a{7} = NaN; check_untouched('Porrith:binWidth', a);
a = sat_porrith_args(0.5); a{8} = 0; check_untouched('Porrith:nBins', a);
a = sat_porrith_args(0.5); a{8} = 5; check_untouched('Porrith:tooShort', a);
a = sat_porrith_args(0.5); a{9} = int32([0 0 0 0]); check_untouched('Porrith:notDouble', a);
a = sat_porrith_args(0.5); a{10} = 'x'; check_untouched('Porrith:notScalar', a);

% No bins and no region: nothing to check and nothing to normalise.
Porrith(1, 1, {ones(3)}, 1, 3, 3, -1, 0, [], 1);

disp('test_Porrith: all checks passed');
