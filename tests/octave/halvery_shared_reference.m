function e = halvery_shared_reference(a, R, I)
% HALVERY_SHARED_REFERENCE  The argument list a after Halvery(a{:}) when the
%   result at R (scores 21, pooled values 22 or render map {15, i}) is the
%   same array as the map at I (response map {3, k} or patch {14, k}),
%   written as plain loops: elements outer, images inner; every map read
%   sees every write made before it. The element values are the caller's.
  nImages = a{1}; N = a{2}; patchHalf = a{5}; nRows = a{6}; nCols = a{7};
  ori = a{9}; ex = a{10}; ey = a{11}; w = a{12}; b = a{13};
  shiftRange = a{16}; oriRange = a{17}; shiftStep = a{18}; nElements = floor(a{19}); saturation = a{20};
  locs = [arrayfun(@(k) [3 k], 1:nImages * N, 'UniformOutput', false), ...
          arrayfun(@(k) [14 k], 1:N, 'UniformOutput', false), ...
          arrayfun(@(k) [15 k], 1:nImages, 'UniformOutput', false), {21, 22}];
  [mem, slot] = shared_slots(a, locs, R, I);
  mapSlots = slot(1:nImages * N);
  patchSlots = slot(nImages * N + (1:N));
  renderSlots = slot(nImages * N + N + (1:nImages));
  scoreSlot = slot(end - 1); pooledSlot = slot(end);
  % The element values as the caller passed them, truncated, all at once.
  elements = fix([ori(1:nElements); ex(1:nElements); ey(1:nElements)]);
  [sx, sy] = shift_tables_reference(N, shiftRange, shiftStep);
  for el = 1:nElements
    for img = 1:nImages
      maps = reshape(mem(mapSlots), nImages, N);
      [v, win] = pool_reference(maps, img, elements(1, el), elements(2, el), elements(3, el), sx, sy, ...
                                nRows, nCols, N, shiftRange, oriRange, saturation);
      mem{pooledSlot}(img + nImages * (el - 1)) = v;
      mem{scoreSlot}(img) = mem{scoreSlot}(img) + (w(el) * v - b(el));
      if v > 0
        mem = raise_render(mem, renderSlots(img), patchSlots(win(3) + 1), win, sqrt(v), patchHalf, nRows, nCols);
      end
    end
  end
  e = args_from_slots(a, locs, mem, slot);
end

function mem = raise_render(mem, render, patch, win, amp, patchHalf, nRows, nCols)
% The patch times amp raises the render map around win, clipped at the
% border; patch offsets (dr, dc) row by row, each read just before its write.
  side = 2 * patchHalf + 1;
  for d = 0:side^2 - 1
    dr = floor(d / side); dc = mod(d, side);
    r = win(1) - patchHalf + dr; c = win(2) - patchHalf + dc;
    if r < 1 || r > nRows || c < 1 || c > nCols
      continue;
    end
    at = r + nRows * (c - 1);
    p = mem{patch}(1 + dr + side * dc) * amp;
    if p > mem{render}(at)  % NaN stays, as does a tie
      mem{render}(at) = p;
    end
  end
end
