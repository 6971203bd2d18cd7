function b = bits_of(a)
% BITS_OF  A copy of a that isequal compares bit for bit: every double array
%   becomes its size and the uint64 bits of its elements (so -0 differs from
%   0 and NaN equals itself), cells are taken apart cell by cell, and other
%   values are kept as they are.
  if iscell(a)
    b = cellfun(@bits_of, a, 'UniformOutput', false);
  elseif isa(a, 'double') && isreal(a) && ~issparse(a)
    b = {size(a), typecast(a(:), 'uint64')};
  else
    b = {class(a), a};
  end
end
