%WENDLOW  Find, per image, the rotation and shift under which a template matches best.
%   WENDLOW(nImages, N, responseMaps, unused4, patchHalf, nRows, nCols,
%           unused8, elemOri, elemX, elemY, elemWeight, elemBias, patches,
%           renderMaps, shiftRange, oriRange, shiftStep, nElements,
%           saturation, bestScores, pooledValues, unused23, unused24,
%           unused25, unused26, bestDeltaX, bestDeltaY, bestDeltaOri)
%
%   Inputs (29; more are ignored); positions 1 to 26 are those of Halvery:
%     1  nImages       number of images (rounded, halves up)
%     2  N             number of orientations
%     3  responseMaps  nImages x N cell array of nRows x nCols maps
%     4  (unused)      not read
%     5  patchHalf     not read (Halvery's; accepted as it comes)
%     6  nRows         rows of every map; the rotation centre row is
%                      floor(nRows/2)
%     7  nCols         columns of every map; centre column floor(nCols/2)
%     8  (unused)      not read
%     9  elemOri       element orientations (truncated; used modulo N)
%    10  elemX         element rows, 1-based (truncated toward zero)
%    11  elemY         element columns, 1-based (truncated toward zero)
%    12  elemWeight    element weights
%    13  elemBias      element biases
%    14  patches       not read (Halvery's; accepted as it comes)
%    15  renderMaps    not read (Halvery's; accepted as it comes)
%    16  shiftRange    pooling shifts -shiftRange..shiftRange (see Halvery)
%    17  oriRange      pooling orientation offsets (0 to N)
%    18  shiftStep     pixels per pooling shift
%    19  nElements     number of elements (floored; below 1: none)
%    20  saturation    upper bound of every pooled value
%    21  bestScores    nImages doubles: the best candidate score
%    22  pooledValues  not read (Halvery's; accepted as it comes)
%    23-26 (unused)    not read
%    27  bestDeltaX    nImages doubles: row shift s of the best candidate
%    28  bestDeltaY    nImages doubles: column shift t of the best candidate
%    29  bestDeltaOri  nImages doubles: rotation r of the best candidate,
%                      in orientation steps
%
%   Maps as one array: responseMaps may also be the nRows x nCols x N x
%   nImages double array (maps(:,:,k,i) is image i at orientation k-1), bit
%   for bit the same as the cell grid, without the host's cost per cell.
%
%   Threads: see otk_threads (environment variable OTK_NUM_THREADS).
%
%   Ctrl-C does not stop a call: Wendlow writes its results into the arrays
%   given, and a call stopped half way would leave them half written, so
%   it finishes what it has started (the host stops after it returns).
%   For long work use otk_search_transform, which stops within a fraction of a
%   second and returns nothing.
%
%   The candidates are every rotation r = 0, 4, 8, ... below 2*N orientation
%   steps (a step is pi/N) about the centre, each with every shift s, t in
%   -1..1: 9*ceil(N/2) per image. A candidate's score is the sum over the
%   elements of elemWeight*v - elemBias, v being the element's pooled
%   response (as in Halvery) at its turned and shifted position, in
%   orientation (elemOri + r) modulo N. The first best candidate in the order
%   r, then s, then t wins; scores of -1000 or less never win.
%
%   Results are written IN PLACE (overwritten, not accumulated) into
%   arguments 21, 27, 28 and 29; nothing is returned. bestScores becomes
%   -1000 when no candidate scores above -1000 (for instance N = 0), and
%   then the three parameter arrays keep what they held. Asking for an
%   output raises Wendlow:nargout; otk_search_transform returns new arrays
%   and never modifies its inputs. Traps of the zero-copy route: writes
%   reach every variable sharing the data (b = a, c = {a}, repmat({a}, 1,
%   2)), and are lost without a word in a diagonal matrix such as eye(2) or
%   a range such as 1:3.
%
%   Errors (nothing is written when one is raised): Wendlow:nargin (fewer
%   than 29 inputs), Wendlow:nargout (an output requested),
%   Wendlow:notScalar, :notFinite, :intRange (integer
%   scalars), :negativeCount (nImages or N below 0), :notCell,
%   :tooFewCells, :badCell, :cellTooSmall, :tooFewMaps (responseMaps), :notDouble,
%   :tooShort (element and result arrays), :badValue (element values that
%   do not fit an int), :shiftRange (below 0), :oriRange (below 0 or above N),
%   :shiftStep (shiftRange*shiftStep too large), :N (N above 2^30, where
%   rotations no longer fit an int), :outOfMemory. Each
%   message names the argument and its position.
%
%   Example:
%     maps = repmat({zeros(9)}, 1, 4);  maps{1}(3, 5) = 1;
%     best = zeros(1, 1); dx = zeros(1, 1); dy = zeros(1, 1); dori = zeros(1, 1);
%     Wendlow(1, 4, maps, {}, 0, 9, 9, 0, 0, 6, 4, 1, 0, {}, {}, 0, 0, 1, 1, ...
%             10, best, 0, 0, 0, 0, 0, dx, dy, dori);
%     [best dx dy dori]   % 1 1 1 4: a half turn, then one row and one column
%
%   See also otk_search_transform, Halvery, Mundle, Sabrel.

error('Wendlow:notBuilt', 'Wendlow: the compiled plug-in is not on the path; build it (tools/build.sh)');

%!shared maps
%! maps = repmat({zeros(9)}, 1, 4);
%! maps{1}(3, 5) = 1;

%!test
%! ## The worked search: a half turn about (4, 4), then one row and column.
%! best = zeros(1, 1);  dx = zeros(1, 1);  dy = zeros(1, 1);  dori = zeros(1, 1);
%! Wendlow(1, 4, maps, {}, 0, 9, 9, 0, 0, 6, 4, 1, 0, {}, {}, 0, 0, 1, 1, 10, best, 0, 0, ...
%!         0, 0, 0, dx, dy, dori);
%! assert ([best dx dy dori], [1 1 1 4]);

%!test
%! ## No response at all: every candidate ties at 0 and the first one wins.
%! best = zeros(1, 1);  dx = zeros(1, 1);  dy = zeros(1, 1);  dori = zeros(1, 1);
%! Wendlow(1, 4, repmat({zeros(9)}, 1, 4), {}, 0, 9, 9, 0, 0, 6, 4, 1, 0, {}, {}, 0, 0, 1, ...
%!         1, 10, best, 0, 0, 0, 0, 0, dx, dy, dori);
%! assert ([best dx dy dori], [0 -1 -1 0]);

%!test
%! ## Nothing above -1000: the answer arrays keep what they held.
%! best = zeros(1, 1);  dx = 7 + zeros(1, 1);  dy = 8 + zeros(1, 1);  dori = 9 + zeros(1, 1);
%! Wendlow(1, 4, maps, {}, 0, 9, 9, 0, 0, 6, 4, 1, 2000, {}, {}, 0, 0, 1, 1, 10, best, 0, 0, ...
%!         0, 0, 0, dx, dy, dori);
%! assert ([best dx dy dori], [-1000 7 8 9]);

%!error id=Wendlow:nargin Wendlow(1, 4)
%!error id=Wendlow:nargout s = Wendlow(1, 4)
