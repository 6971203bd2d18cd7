function e = porrith_shared_reference(a, R, I)
% PORRITH_SHARED_REFERENCE  The argument list a after Porrith(a{:}) when the
%   result at R (the histogram 9, or map {3, k}) is the same array as map I,
%   written as plain loops: every map saturated in cell order (a block held
%   twice is saturated twice), then every region pixel binned through all
%   maps, pixel-major (rows outer, then columns, orientations, images), each
%   read seeing every count added before it; then the histogram normalised.
  nImages = a{1}; N = a{2}; margin = a{4}; nRows = a{5}; nCols = a{6};
  binWidth = a{7}; nBins = a{8}; level = a{10};
  locs = [arrayfun(@(k) [3 k], 1:nImages * N, 'UniformOutput', false), {9}];
  [mem, slot] = shared_slots(a, locs, R, I);
  h = slot(end);
  for k = 1:nImages * N
    s = slot(k);
    mem{s}(1:nRows, 1:nCols) = sat_sigmoid(mem{s}(1:nRows, 1:nCols), level);
  end
  count = 0;
  for r = margin + 1:nRows - margin - 1
    for c = margin + 1:nCols - margin - 1
      for o = 1:N
        for img = 1:nImages
          q = mem{slot(img + nImages * (o - 1))}(r, c);
          f = floor(q / binWidth);
          if ~(nBins - 1 > f)
            bin = nBins - 1;
          else
            bin = max(f, 0);
          end
          mem{h}(bin + 1) = mem{h}(bin + 1) + 1;
          count = count + 1;
        end
      end
    end
  end
  mem{h}(1:nBins) = mem{h}(1:nBins) / (binWidth * count);
  e = args_from_slots(a, locs, mem, slot);
end
