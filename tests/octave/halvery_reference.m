function [scores, pooled, renders] = halvery_reference(nImages, N, maps, patchHalf, nRows, nCols, ...
                                                       ori, ex, ey, w, b, patches, renders, ...
                                                       shiftRange, oriRange, shiftStep, nElements, ...
                                                       saturation, scores, pooled)
% HALVERY_REFERENCE  Halvery written out as plain loops in the host's own
%   language, step by step as the toolbox defines it (PI = 3.1415926, the
%   shift tables, pooling with one orientation wrap, strict comparisons,
%   drawing that clips at the map border), for comparison bit for bit.
  PI = 3.1415926;
  sx = zeros(N, 2 * shiftRange + 1);
  sy = zeros(N, 2 * shiftRange + 1);
  for k = 0:N-1
    theta = (PI * k) / N;
    for i = -shiftRange:shiftRange
      d = i * shiftStep;
      sy(k + 1, i + shiftRange + 1) = floor(d * sin(theta) + 0.5);
      sx(k + 1, i + shiftRange + 1) = floor(d * cos(theta) + 0.5);
    end
  end
  side = 2 * patchHalf + 1;
  pos = 1;
  for e = 1:nElements
    o = fix(ori(e)); x = fix(ex(e)); y = fix(ey(e));
    for img = 1:nImages
      best = 0; win = [];
      for i = -shiftRange:shiftRange
        xs = x + sx(o + 1, i + shiftRange + 1);
        ys = y + sy(o + 1, i + shiftRange + 1);
        if xs < 1 || xs > nRows || ys < 1 || ys > nCols
          continue;
        end
        for j = -oriRange:oriRange
          oo = o + j;
          if oo < 0
            oo = oo + N;
          elseif oo >= N
            oo = oo - N;
          end
          v = maps{img, oo + 1}(xs, ys);
          if best < v
            best = v; win = [xs, ys, oo];
          end
        end
      end
      if best > saturation
        v = saturation;
      else
        v = best;
      end
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
