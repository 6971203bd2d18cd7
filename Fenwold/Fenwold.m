%FENWOLD  Saturate response maps in place with a sigmoid.
%   FENWOLD(nImages, N, responseMaps, nRows, nCols, saturationLevel)
%
%   Inputs (6; more are ignored), as you count them:
%     1  nImages          rows of the cell grid (rounded, halves up)
%     2  N                columns of the cell grid
%     3  responseMaps     nImages x N cell array of nRows x nCols maps
%     4  nRows            rows of every map
%     5  nCols            columns of every map
%     6  saturationLevel  the level s
%
%   Maps as one array: responseMaps may also be the nRows x nCols x N x
%   nImages double array (cell {i,k} at (:,:,k,i)), saturated in place.
%
%   Threads: see otk_threads (environment variable OTK_NUM_THREADS).
%
%   Ctrl-C does not stop a call: Fenwold writes its results into the arrays
%   given, and a call stopped half way would leave them half written, so
%   it finishes what it has started (the host stops after it returns).
%   For long work use otk_saturate, which stops within a fraction of a
%   second and returns nothing.
%
%   Every element v of every map becomes s*(2/(exp(-2*v/s) + 1) - 1), that
%   is s*tanh(v/s): about v for small v, tending to +s and -s. The result is
%   exactly s when v/s >= 40 and -s when v/s <= -40. With s = 0, positive
%   values become 0, negative values -0 and zeros NaN.
%
%   The maps are changed IN PLACE; nothing is returned. Calling twice
%   saturates twice. A map held by two cells is saturated once per cell.
%   Asking for an output raises Fenwold:nargout; otk_saturate returns new
%   arrays and never modifies its inputs. Traps of the zero-copy route:
%   writes reach every variable sharing the data (b = a, c = {a},
%   repmat({a}, 1, 2)), and are lost without a word in a diagonal matrix
%   such as eye(2) or a range such as 1:3.
%
%   Errors (nothing is written when one is raised): Fenwold:nargin (fewer
%   than 6 inputs), Fenwold:nargout (an output requested),
%   Fenwold:notScalar, :notFinite, :intRange (integer
%   scalars), :negativeCount (nImages or N below 0), :notCell, :tooFewCells,
%   :badCell, :cellTooSmall, :tooFewMaps (the grid), :outOfMemory. Each message names the
%   argument and its position.
%
%   Example:
%     maps = {[0 0.5; 1 100]};
%     Fenwold(1, 1, maps, 2, 2, 1);
%     maps{1}   % [0 0.4621; 0.7616 1]
%
%   See also otk_saturate, Porrith, Halvery.

error('Fenwold:notBuilt', 'Fenwold: the compiled plug-in is not on the path; build it (tools/build.sh)');

%!test
%! maps = {[0 0.5; 1 100]};
%! Fenwold(1, 1, maps, 2, 2, 1);
%! assert (maps{1}, [0 0.46211715726001; 0.76159415595576 1], 1e-14);

%!test
%! ## In place: a variable sharing the map sees the change; a diagonal
%! ## matrix loses it.
%! a = [1 2; 3 4];
%! b = a;
%! Fenwold(1, 1, {a}, 2, 2, 2);
%! assert (b, a);
%! assert (a(1), 0.92423431452002, 1e-14);
%! d = eye(2);
%! Fenwold(1, 1, {d}, 2, 2, 2);
%! assert (full (d), [1 0; 0 1]);

%!test
%! ## Saturation at 40 times the level and beyond is exact; s = 0 gives NaN for 0.
%! maps = {[40 -40 -400 0]};
%! Fenwold(1, 1, maps, 1, 4, 1);
%! assert (maps{1}, [1 -1 -1 0]);
%! maps = {[1 -1 0]};
%! Fenwold(1, 1, maps, 1, 3, 0);
%! assert (maps{1}, [0 0 NaN]);

%!error id=Fenwold:nargin Fenwold(1, 1)

%!test
%! ## Asking for an output is refused before anything is written.
%! a = [1 2];
%! try
%!   b = Fenwold(1, 1, {a}, 1, 2, 1);
%! catch err
%!   assert (err.identifier, 'Fenwold:nargout');
%! end
%! assert (a, [1 2]);
