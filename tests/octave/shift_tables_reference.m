function [sx, sy] = shift_tables_reference(N, shiftRange, shiftStep)
% SHIFT_TABLES_REFERENCE  Row and column offsets of every shift of every
%   orientation, with PI = 3.1415926 and halves rounded up.
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
end
