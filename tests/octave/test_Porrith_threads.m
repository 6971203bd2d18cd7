% Porrith in the real host gives the same bits for 1, 2 and 8 threads and
% the bits of the plain loops: every map saturated, then each region value
% adding 1.0 to its bin in turn, onto a histogram that already holds
% fractions, integers and -0, with values on bin edges.

seed = 20261209;
rand('state', seed); randn('state', seed);
previous = getenv('OTK_NUM_THREADS');
nImages = 4; N = 4; nRows = 130; nCols = 140; margin = 2; nBins = 24; level = 1.1;
maps = cell(nImages, N);
for k = 1:numel(maps)
  maps{k} = 1.4 * rand(nRows, nCols) .* rand(nRows, nCols);
end
maps{6}(40, 50) = NaN;
maps{7}(60, 70) = -0.3;
maps{8}(80, 90) = 1e3;
% A width that puts one saturated value exactly on the edge of bin 9.
binWidth = sat_sigmoid(maps{1}(10, 10), level) / 9;
h0 = zeros(1, nBins);
h0(1:2:end) = 0.3 * (1:2:nBins);
h0(2:2:end) = 2 * (2:2:nBins);
h0(end) = -0;

% The reference: the plain order adds 1.0 per value; per bin that is the
% same as adding the bin's values one by one.
saturated = cellfun(@(x) sat_sigmoid(x, level), maps, 'UniformOutput', false);
region = cell2mat(cellfun(@(x) reshape(x(margin + 1:nRows - margin - 1, margin + 1:nCols - margin - 1), [], 1), ...
                          saturated(:), 'UniformOutput', false));
f = floor(region / binWidth);
bin = zeros(size(f));
bin(nBins - 1 > f) = max(f(nBins - 1 > f), 0);
bin(~(nBins - 1 > f)) = nBins - 1;
counts = accumarray(bin + 1, 1, [nBins, 1]);
expected = h0;
for b = 1:nBins
  for j = 1:counts(b)
    expected(b) = expected(b) + 1;
  end
end
expected = expected / (binWidth * numel(region));

bits = @(c) typecast(cell2mat(cellfun(@(x) x(:), c(:), 'UniformOutput', false)), 'uint64');
for setting = [1 0; 2 0; 2 1000; 8 0; 8 1000]'   % threads, spin (us)
  threads = setting(1);
  setenv('OTK_NUM_THREADS', num2str(threads));
  setenv('OTK_SPIN_US', num2str(setting(2)));
  m = cellfun(@(x) x + 0, maps, 'UniformOutput', false);
  h = h0 + 0;
  h(end) = -0;
  Porrith(nImages, N, m, margin, nRows, nCols, binWidth, nBins, h, level);
  if ~isequal(bits({h}), bits({expected})) || ~isequal(bits(m), bits(saturated))
    error('test:threads', 'Porrith with %d threads, spin %d us, differs from the plain loops (seed %d)', ...
          threads, setting(2), seed);
  end
end
setenv('OTK_NUM_THREADS', previous);
unsetenv('OTK_SPIN_US');
disp('test_Porrith_threads: all checks passed');
