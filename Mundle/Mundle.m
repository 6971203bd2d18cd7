%MUNDLE  Rotate and shift whole orientation stacks, moving the channels along.
%   MUNDLE(n, N, sourceMaps, resultMaps, sx, sy, deltaX, deltaY, deltaOri)
%
%   Inputs (9; more are ignored), as you count them:
%     1  n           number of images (rounded, halves up)
%     2  N           number of orientations: one rotation step is pi/N
%     3  sourceMaps  n x N cell array: cell {i,k} is the sx x sy map of
%                    image i at orientation k-1 (read only)
%     4  resultMaps  n x N cell array of sx x sy maps (overwritten)
%     5  sx          rows of every map
%     6  sy          columns of every map
%     7  deltaX      n doubles: row shift of image i (truncated toward zero)
%     8  deltaY      n doubles: column shift of image i (truncated)
%     9  deltaOri    n doubles: rotation of image i in steps of pi/N
%                    (truncated)
%
%   Maps as one array: sourceMaps and resultMaps may each also be one
%   sx x sy x N x n double array (cell {i,k} at (:,:,k,i)); results land in
%   such an array as in cells, bit for bit.
%
%   Threads: see otk_threads (environment variable OTK_NUM_THREADS).
%
%   Ctrl-C does not stop a call: Mundle writes its results into the arrays
%   given, and a call stopped half way would leave them half written, so
%   it finishes what it has started (the host stops after it returns).
%   For long work use otk_warp_stacks, which stops within a fraction of a
%   second and returns nothing.
%
%   Every channel of image i is warped as Sabrel warps a map: result element
%   (x, y) takes the source element at (x, y) turned by deltaOri(i)*pi/N
%   about (floor(sx/2), floor(sy/2)), moved by (deltaX(i), deltaY(i)) and
%   rounded; 0 outside the source. Result channel k reads source channel
%   mod(k + deltaOri(i), N), so orientations turn with the maps.
%
%   Results are written IN PLACE into the maps of argument 4, every element
%   exactly once; nothing is returned. The result maps may share storage
%   with the source maps: results are then those of the sources as they were
%   before the call. Asking for an output raises Mundle:nargout;
%   otk_warp_stacks returns new arrays and never modifies its inputs. Traps
%   of the zero-copy route: writes reach every variable sharing the data
%   (b = a, c = {a}, repmat({a}, 1, 2)), and are lost without a word in a
%   diagonal matrix such as eye(2) or a range such as 1:3.
%
%   Errors (nothing is written when one is raised): Mundle:nargin (fewer
%   than 9 inputs), Mundle:nargout (an output requested),
%   Mundle:notScalar, :notFinite, :intRange (integer
%   scalars), :negativeCount (n or N below 0), :notCell, :tooFewCells,
%   :badCell, :cellTooSmall, :tooFewMaps (map grids), :notDouble, :tooShort (shift and
%   rotation arrays), :badValue (values that do not fit an int),
%   :outOfMemory. Each message names the argument and its position.
%
%   Example:
%     src = {zeros(3), [0 1 2; 10 11 12; 20 21 22]};  out = {zeros(3), zeros(3)};
%     Mundle(1, 2, src, out, 3, 3, 0, 0, 1);
%     out{1}   % channel 0 from source channel 1, a quarter turn:
%              % [20 10 0; 21 11 1; 22 12 2]
%
%   See also otk_warp_stacks, Sabrel, Wendlow.

error('Mundle:notBuilt', 'Mundle: the compiled plug-in is not on the path; build it (tools/build.sh)');

%!shared ramp
%! ramp = [0 1 2; 10 11 12; 20 21 22];

%!test
%! out = {zeros(3), zeros(3)};
%! Mundle(1, 2, {zeros(3), ramp}, out, 3, 3, 0, 0, 1);
%! assert (out{1}, [20 10 0; 21 11 1; 22 12 2]);
%! assert (out{2}, zeros(3));

%!test
%! ## N = 4 and a rotation of -1: channel 0 reads channel 3.
%! src = {zeros(3), zeros(3), zeros(3), ramp};
%! out = {zeros(3), zeros(3), zeros(3), zeros(3)};
%! Mundle(1, 4, src, out, 3, 3, 0, 0, 4 - 1 - 4);
%! assert (out{1}(2, 2), 11);

%!error id=Mundle:nargin Mundle(1, 2)
%!error id=Mundle:nargout out = Mundle(1, 2)
