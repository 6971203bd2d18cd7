function results = warp_reference(n, N, sources, results, sx, sy, dX, dY, dO, stacks)
% WARP_REFERENCE  Sabrel (stacks false) or Mundle (stacks true) as plain
%   loops in the host language, on copies: result element (x, y) of map
%   (i, k) takes the source element where the point transform lands, in
%   source channel xyo(3) for stacks, or 0 outside.
  channels = 1;
  if stacks
    channels = N;
  end
  for i = 1:n
    for k = 0:channels - 1
      for x = 0:sx - 1
        for y = 0:sy - 1
          iOri = 0;
          if stacks
            iOri = k;
          end
          [xr, yr, o] = point_reference(N, fix(sx / 2), fix(sy / 2), x, y, iOri, fix(dX(i)), fix(dY(i)), fix(dO(i)));
          from = i;
          if stacks
            from = i + n * o;
          end
          value = 0;
          if xr >= 0 && xr < sx && yr >= 0 && yr < sy
            value = sources{from}(xr + sx * yr + 1);
          end
          results{i + n * k}(x + sx * y + 1) = value;
        end
      end
    end
  end
end
