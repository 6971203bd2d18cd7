function [v, win] = pool_reference(maps, img, o, x, y, sx, sy, nRows, nCols, N, shiftRange, oriRange, saturation)
% POOL_REFERENCE  The oriented local maximum written out in the host
%   language: shifts along orientation o from the tables sx, sy (one row per
%   orientation), orientation offsets wrapped once, strict comparisons, the
%   cap at saturation. win = [row, column, orientation] of the winner.
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
      value = maps{img, oo + 1}(xs, ys);
      if best < value
        best = value; win = [xs, ys, oo];
      end
    end
  end
  if best > saturation
    v = saturation;
  else
    v = best;
  end
end
