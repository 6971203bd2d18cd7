function [scores, pooled, renders] = halvery_reference(nImages, N, maps, patchHalf, nRows, nCols, ...
                                                       ori, ex, ey, w, b, patches, renders, ...
                                                       shiftRange, oriRange, shiftStep, nElements, ...
                                                       saturation, scores, pooled)
% HALVERY_REFERENCE  Halvery written out as plain loops in the host's own
%   language, step by step as the toolbox defines it (PI = 3.1415926, the
%   shift tables, pooling with one orientation wrap, strict comparisons,
%   drawing that clips at the map border), for comparison bit for bit.
  [sx, sy] = shift_tables_reference(N, shiftRange, shiftStep);
  side = 2 * patchHalf + 1;
  pos = 1;
  for e = 1:nElements
    o = fix(ori(e)); x = fix(ex(e)); y = fix(ey(e));
    for img = 1:nImages
      [v, win] = pool_reference(maps, img, o, x, y, sx, sy, nRows, nCols, N, shiftRange, oriRange, saturation);
      pooled(pos) = v; pos = pos + 1;
      scores(img) = scores(img) + (w(e) * v - b(e));
      if v > 0
        amp = sqrt(v);
        for r = win(1) - patchHalf:win(1) + patchHalf
          for c = win(2) - patchHalf:win(2) + patchHalf
            if r < 1 || r > nRows || c < 1 || c > nCols
              continue;
            end
            p = patches{win(3) + 1}(r - win(1) + patchHalf + 1 + side * (c - win(2) + patchHalf)) * amp;
            if p > renders{img}(r, c)
              renders{img}(r, c) = p;
            end
          end
        end
      end
    end
  end
end
