%SABREL  Rotate and shift single maps about their centre (nearest neighbour).
%   SABREL(n, N, sourceMaps, resultMaps, sx, sy, deltaX, deltaY, deltaOri)
%
%   Inputs (9; more are ignored), as you count them:
%     1  n           number of maps (rounded, halves up)
%     2  N           number of orientations: one rotation step is pi/N
%     3  sourceMaps  cell list of n maps of sx x sy doubles (read only)
%     4  resultMaps  cell list of n maps of sx x sy doubles (overwritten)
%     5  sx          rows of every map
%     6  sy          columns of every map
%     7  deltaX      n doubles: row shift of map i (truncated toward zero)
%     8  deltaY      n doubles: column shift of map i (truncated)
%     9  deltaOri    n doubles: rotation of map i in steps of pi/N (truncated)
%
%   Maps as one array: sourceMaps and resultMaps may each also be one
%   sx x sy x n double array (map i at (:,:,i)); results land in such an
%   array as in cells, bit for bit.
%
%   Threads: see otk_threads (environment variable OTK_NUM_THREADS).
%
%   Ctrl-C does not stop a call: Sabrel writes its results into the arrays
%   given, and a call stopped half way would leave them half written, so
%   it finishes what it has started (the host stops after it returns).
%   For long work use otk_warp_maps, which stops within a fraction of a
%   second and returns nothing.
%
%   Result element (x, y) of map i (0-based) takes the source element at the
%   point (x, y) turned by deltaOri(i)*pi/N about the centre
%   (floor(sx/2), floor(sy/2)), from the row axis toward the column axis,
%   then moved by (deltaX(i), deltaY(i)) and rounded to the nearest element
%   (halves up); 0 where that point lies outside the source map. So a
%   quarter turn (N = 2, deltaOri = 1) gives result(x, y) = source(2-y, x)
%   on a 3 x 3 map.
%
%   Results are written IN PLACE into the maps of argument 4, every element
%   exactly once; nothing is returned. The result maps may be the source
%   maps themselves: results are then those of the sources as they were
%   before the call. Asking for an output raises Sabrel:nargout;
%   otk_warp_maps returns new arrays and never modifies its inputs. Traps of
%   the zero-copy route: writes reach every variable sharing the data
%   (b = a, c = {a}, repmat({a}, 1, 2)), and are lost without a word in a
%   diagonal matrix such as eye(2) or a range such as 1:3.
%
%   Errors (nothing is written when one is raised): Sabrel:nargin (fewer
%   than 9 inputs), Sabrel:nargout (an output requested),
%   Sabrel:notScalar, :notFinite, :intRange (integer
%   scalars), :negativeCount (n below 0), :notCell, :tooFewCells, :badCell,
%   :cellTooSmall, :tooFewMaps (map lists), :notDouble, :tooShort (shift and rotation
%   arrays), :badValue (values that do not fit an int), :N (N below 1
%   while some element is to be written), :outOfMemory. Each message names
%   the argument and its position.
%
%   Example:
%     src = {[0 1 2; 10 11 12; 20 21 22]};  out = {zeros(3)};
%     Sabrel(1, 2, src, out, 3, 3, 0, 0, 1);
%     out{1}   % [20 10 0; 21 11 1; 22 12 2]
%
%   See also otk_warp_maps, Mundle, Wendlow.

error('Sabrel:notBuilt', 'Sabrel: the compiled plug-in is not on the path; build it (tools/build.sh)');

%!shared src
%! src = {[0 1 2; 10 11 12; 20 21 22]};

%!test
%! out = {zeros(3)};
%! Sabrel(1, 2, src, out, 3, 3, 0, 0, 1);
%! assert (out{1}, [20 10 0; 21 11 1; 22 12 2]);

%!test
%! ## A half turn, then shifts; each map its own transform.
%! out = {zeros(3), zeros(3)};
%! Sabrel(2, 2, [src src], out, 3, 3, [0 1], [0 0], [2 0]);
%! assert (out{1}, [22 21 20; 12 11 10; 2 1 0]);
%! assert (out{2}, [10 11 12; 20 21 22; 0 0 0]);

%!test
%! ## A 4 x 4 map turns about (2, 2), counted from 0: the first row and
%! ## column of a half turn fall outside.
%! out = {ones(4)};
%! Sabrel(1, 4, {magic(4)}, out, 4, 4, 0, 0, 4);
%! assert (out{1}(1, :), zeros(1, 4));
%! assert (out{1}(2:4, 2:4), rot90(magic(4)(2:4, 2:4), 2));

%!error id=Sabrel:nargin Sabrel(1, 2)
%!error id=Sabrel:nargout out = Sabrel(1, 2)
