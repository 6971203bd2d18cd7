function b = bit_copy(a)
% BIT_COPY  A copy of a that shares no storage with it, bit for bit (x + 0
%   would turn -0 into 0), cells copied cell by cell.
  if iscell(a)
    b = cellfun(@bit_copy, a, 'UniformOutput', false);
  elseif isa(a, 'double') && isreal(a) && ~issparse(a)
    b = reshape(typecast(typecast(a(:), 'uint64'), 'double'), size(a));
  else
    b = a;
  end
end
