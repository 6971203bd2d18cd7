function b = bits_of(a)
% BITS_OF  The bits of a as one uint8 column, so that isequal(bits_of(x),
%   bits_of(y)) compares bit for bit (-0 differs from 0, NaN equals itself):
%   class, size, and the bytes of the real and imaginary parts of numeric
%   arrays; cells cell by cell, each part prefixed with its length; other
%   values by their displayed form. One column keeps the comparison to one
%   cheap isequal, which matters in the many-case tests.
  head = [uint8(class(a))'; 0; typecast(size(a)(:), 'uint8')];
  if iscell(a)
    parts = cellfun(@bits_of, a(:), 'UniformOutput', false);
    lengths = cellfun(@(p) typecast(numel(p), 'uint8')(:), parts, 'UniformOutput', false);
    body = [lengths'; parts'];
    b = [head; vertcat(uint8([]), body{:})];
  elseif isnumeric(a)
    f = full(a);
    b = [head; issparse(a); typecast(real(f(:)), 'uint8')(:); typecast(imag(f(:)), 'uint8')(:)];
  elseif islogical(a) || ischar(a)
    b = [head; uint8(a(:))];
  else
    b = [head; uint8(evalc('disp(a)'))'];
  end
end
