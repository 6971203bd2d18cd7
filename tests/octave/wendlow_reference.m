function [best, bX, bY, bO] = wendlow_reference(nImages, N, maps, nRows, nCols, ori, ex, ey, w, b, ...
                                                 shiftRange, oriRange, shiftStep, nElements, ...
                                                 saturation, bX, bY, bO)
% WENDLOW_REFERENCE  Wendlow written out in the host language: every image,
%   every candidate (rotation r = 0, 4, ... below 2N, then row and column
%   shifts -1..1), every element turned about (nRows/2, nCols/2) and pooled,
%   scores summed through a candidate buffer, the first strictly best
%   candidate above -1000 taken.
  [sx, sy] = shift_tables_reference(N, shiftRange, shiftStep);
  rotations = 0:4:2 * N - 1;
  scores = zeros(9 * numel(rotations), nImages);
  for p = 1:nImages
    q = 1;
    for r = rotations
      for s = -1:1
        for t = -1:1
          for k = 1:nElements
            [x, y, o] = point_reference(N, fix(nRows / 2), fix(nCols / 2), fix(ex(k)), fix(ey(k)), fix(ori(k)), s, t, r);
            v = pool_reference(maps, p, o, x, y, sx, sy, nRows, nCols, N, shiftRange, oriRange, saturation);
            scores(q, p) = scores(q, p) + (w(k) * v - b(k));
          end
          q = q + 1;
        end
      end
    end
  end
  best = zeros(nImages, 1);
  for p = 1:nImages
    best(p) = -1000;
    q = 1;
    for r = rotations
      for s = -1:1
        for t = -1:1
          if scores(q, p) > best(p)
            best(p) = scores(q, p); bX(p) = s; bY(p) = t; bO(p) = r;
          end
          q = q + 1;
        end
      end
    end
  end
end
