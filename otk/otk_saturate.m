%OTK_SATURATE  Saturate response maps with a sigmoid, s*tanh(v/s), into new maps.
%   OUT = OTK_SATURATE(MAPS) saturates with the level s = 1.
%   OUT = OTK_SATURATE(MAPS, LEVEL) uses the level s = LEVEL (a finite
%   number above 0).
%
%   Every element v becomes s*(2/(exp(-2*v/s) + 1) - 1), that is
%   s*tanh(v/s): about v for small v, tending to +s and -s; exactly s when
%   v/s >= 40 and -s when v/s <= -40. NaN stays NaN.
%
%   MAPS is a numeric array of any size (any real numeric class), or a cell
%   array of maps all of the same size. OUT has the layout of MAPS, in new
%   storage: MAPS is never modified, and a second call on OUT saturates
%   again. The values are bit for bit those of the compiled Fenwold, which
%   saturates the arrays you pass in place without copying them (the
%   zero-copy route; see its help for the copy-on-write traps).
%
%   Errors (ids otk:<mnemonic>): nargin (no input, or more than 2),
%   notNumeric, notReal, sparse, badSize, badMapSize, notScalar, notFinite,
%   notPositive.
%
%   Example:
%     otk_saturate([0 0.5; 1 100])   % [0 0.4621; 0.7616 1]
%
%   See also otk_response_density, Fenwold.

% This file holds the help and the tests of the compiled function of the
% same name. Run alone, without the compiled function beside it, it says so.
error('otk:notBuilt', ...
      'otk_saturate: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!assert (otk_saturate(0), 0)
%!assert (otk_saturate(1, 2), 0.92423431452002, 1e-14)
%!assert (otk_saturate(-1, 2), -0.92423431452002, 1e-14)
%!assert (otk_saturate(0.5), 0.46211715726001, 1e-14)
%!assert (otk_saturate(100, 50), 48.201379003791, 1e-12)
%!assert (otk_saturate([40 -40 -400 NaN]), [1 -1 -1 NaN])

%!test
%! ## The input is not modified, even when another variable shares it.
%! a = [0 0.5; 1 100];
%! b = a;
%! c = {a};
%! s = otk_saturate(c);
%! assert (isequal (a, [0 0.5; 1 100]) && isequal (b, a) && isequal (c{1}, a));
%! assert (s{1}(2, 2), 1);

%!test
%! ## Integer classes are converted to double; the size is kept.
%! s = otk_saturate(int16(zeros(2, 3, 4)));
%! assert (class (s), 'double');
%! assert (size (s), [2 3 4]);

%!error id=otk:notPositive otk_saturate(1, 0)
%!error id=otk:notReal otk_saturate(1i)
%!error id=otk:badMapSize otk_saturate({1, [1 2]})
%!error id=otk:sparse otk_saturate(speye(2))

%!demo
%! ## Small values pass almost unchanged, large ones stop at the level.
%! v = [0 0.1 0.5 1 2 5 100];
%! s = otk_saturate(v, 1);
%! disp ([v; s])
