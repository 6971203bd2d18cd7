%OTK_WARP_MAPS  Warp single maps: rotate and shift each about its centre (nearest neighbour).
%   OUT = OTK_WARP_MAPS(MAPS, ROWSHIFT, COLUMNSHIFT, ROTATION, N)
%
%   MAPS is an nRows x nCols x n numeric array (n maps) or a cell vector of
%   n maps of nRows x nCols (any real numeric class). ROWSHIFT, COLUMNSHIFT
%   and ROTATION give each map's transform: a scalar for all maps, or one
%   whole number per map. ROTATION counts steps of pi/N, N being a whole
%   number >= 1 (for instance 16 orientation steps of 11.25 degrees).
%
%   Element (x, y) of result map i (counted from 0) takes the element of
%   source map i at the point (x, y) turned by ROTATION(i)*pi/N about
%   (floor(nRows/2), floor(nCols/2)), counted from 0, from the row axis
%   toward the column axis, then moved by (ROWSHIFT(i), COLUMNSHIFT(i)) and
%   rounded to the nearest element, halves up; 0 where that point lies
%   outside the source. On screen (rows down, columns right) a positive
%   rotation turns the picture clockwise. The transform is the toolbox's
%   point transform (otk_transform_points); docs/geometry.md shows how it
%   relates to the search of otk_search_transform.
%
%   OUT has the layout of MAPS (numeric or cell, same size). MAPS is never
%   modified; OUT is new. The results are bit for bit those of the compiled
%   Sabrel, the zero-copy route (see its help).
%
%   Errors (ids otk:<mnemonic>): nargin (fewer or more than 5 inputs),
%   notNumeric, notReal, sparse, badSize, badMapSize, notInteger,
%   notScalar, notFinite, notPositive, outOfRange.
%
%   Example:
%     out = otk_warp_maps([0 1 2; 10 11 12; 20 21 22], 0, 0, 1, 2)
%     % a quarter turn: [20 10 0; 21 11 1; 22 12 2]
%
%   See also otk_warp_stacks, otk_transform_points, Sabrel.

% This file holds the help and the tests of the compiled function of the
% same name. Run alone, without the compiled function beside it, it says so.
error('otk:notBuilt', ...
      'otk_warp_maps: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!shared src
%! src = [0 1 2; 10 11 12; 20 21 22];

%!assert (otk_warp_maps(src, 0, 0, 1, 2), [20 10 0; 21 11 1; 22 12 2])
%!assert (otk_warp_maps(src, 0, 0, 2, 2), [22 21 20; 12 11 10; 2 1 0])
%!assert (otk_warp_maps(src, 1, 0, 0, 2), [10 11 12; 20 21 22; 0 0 0])
%!assert (otk_warp_maps(src, 0, -1, 0, 2), [0 0 1; 0 10 11; 0 20 21])

%!test
%! ## Each map its own transform; a 1 x 2 cell list comes back 1 x 2.
%! out = otk_warp_maps({src, src}, [0 1], 0, [1 0], 2);
%! assert (size (out), [1 2]);
%! assert (out{1}, [20 10 0; 21 11 1; 22 12 2]);
%! assert (out{2}, [10 11 12; 20 21 22; 0 0 0]);

%!test
%! ## The input is left as it was, even when the output is written over it.
%! a = src;
%! b = otk_warp_maps(a, 0, 0, 2, 2);
%! assert (a, src);

%!error id=otk:notInteger otk_warp_maps(src, 0.5, 0, 0, 2)
%!error id=otk:badSize otk_warp_maps(cat(3, src, src), [0 0 0], 0, 0, 2)
%!error id=otk:notPositive otk_warp_maps(src, 0, 0, 0, 0)
%!error id=otk:nargin otk_warp_maps(src, 0, 0, 0)

%!demo
%! ## A quarter turn of a small ramp (N = 2: one step is pi/2).
%! src = [0 1 2; 10 11 12; 20 21 22]
%! turned = otk_warp_maps(src, 0, 0, 1, 2)
