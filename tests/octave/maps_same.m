function ok = maps_same(a, b, count)
% MAPS_SAME  Whether the first count doubles of maps a and b, each in a form
%   of maps_as, are the same bits, and the elements past the maps of a form
%   3 array still hold (1:7)'/8.
  [bitsA, keptA] = first_bits(a, count);
  [bitsB, keptB] = first_bits(b, count);
  ok = keptA && keptB && isequal(bitsA, bitsB);
end

function [b, kept] = first_bits(a, count)
  if iscell(a)
    t = a.';
    a = cat(3, zeros(0, 0), t{:});
  end
  b = typecast(a(1:count)(:), 'uint64');
  kept = numel(a) == count || isequal(a(count + 1:end)(:), (1:7)' / 8);
end
