function b = bits_of(a)
% BITS_OF  A copy of a that isequal compares bit for bit: every numeric array
%   becomes its class, size and the bytes of its real and imaginary parts
%   (so -0 differs from 0 and NaN equals itself), cells are taken apart cell
%   by cell, and other values are kept as they are.
  if iscell(a)
    b = cellfun(@bits_of, a, 'UniformOutput', false);
  elseif isnumeric(a)
    f = full(a);
    b = {class(a), issparse(a), size(a), typecast(real(f(:)), 'uint8'), typecast(imag(f(:)), 'uint8')};
  else
    b = {class(a), a};
  end
end
