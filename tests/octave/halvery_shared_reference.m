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
  [sx, sy] = shift_tables_reference(N, shiftRange, shiftStep);
  side = 2 * patchHalf + 1;
  pos = 1;
  for el = 1:nElements
    o = fix(ori(el)); x = fix(ex(el)); y = fix(ey(el));
    for img = 1:nImages
      maps = reshape(mem(mapSlots), nImages, N);
      [v, win] = pool_reference(maps, img, o, x, y, sx, sy, nRows, nCols, N, shiftRange, oriRange, saturation);
      mem{pooledSlot}(pos) = v; pos = pos + 1;
      mem{scoreSlot}(img) = mem{scoreSlot}(img) + (w(el) * v - b(el));
      if v > 0
        amp = sqrt(v);
        patch = patchSlots(win(3) + 1); render = renderSlots(img);
        for r = max(win(1) - patchHalf, 1):min(win(1) + patchHalf, nRows)
          for c = max(win(2) - patchHalf, 1):min(win(2) + patchHalf, nCols)
            p = mem{patch}(r - win(1) + patchHalf + 1 + side * (c - win(2) + patchHalf)) * amp;
            if p > mem{render}(r + nRows * (c - 1))
              mem{render}(r + nRows * (c - 1)) = p;
            end
          end
        end
      end
    end
  end
  e = a;
  for k = 1:numel(locs)
    e = set_arg_at(e, locs{k}, mem{slot(k)});
  end
end
