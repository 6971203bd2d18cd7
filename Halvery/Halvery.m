%HALVERY  Score a template on a batch of images, pool and draw its elements.
%   HALVERY(nImages, N, responseMaps, unused4, patchHalf, nRows, nCols,
%           unused8, elemOri, elemX, elemY, elemWeight, elemBias, patches,
%           renderMaps, shiftRange, oriRange, shiftStep, nElements,
%           saturation, scores, pooledValues, unused23, unused24, unused25,
%           unused26)
%
%   Inputs (26; more are ignored), as you count them:
%     1  nImages       number of images (rounded, halves up)
%     2  N             number of orientations; orientation k is the angle
%                      pi*k/N from the row axis toward the column axis
%     3  responseMaps  nImages x N cell array: cell {i,k} holds the nRows x
%                      nCols response map of image i at orientation k-1
%     4  (unused)      not read
%     5  patchHalf     patches are (2*patchHalf+1) x (2*patchHalf+1)
%     6  nRows         rows of every response and render map
%     7  nCols         columns of every response and render map
%     8  (unused)      not read
%     9  elemOri       element orientations, 0..N-1 (truncated toward zero)
%    10  elemX         element rows, 1-based (truncated toward zero)
%    11  elemY         element columns, 1-based (truncated toward zero)
%    12  elemWeight    element weights
%    13  elemBias      element biases
%    14  patches       N cell list: the drawing patch of orientation k-1
%    15  renderMaps    nImages cell list of nRows x nCols render maps
%    16  shiftRange    shifts -shiftRange..shiftRange along the orientation
%    17  oriRange      orientation offsets -oriRange..oriRange (0 to N)
%    18  shiftStep     pixels per shift
%    19  nElements     number of elements (floored; below 1: none)
%    20  saturation    upper bound of every pooled value
%    21  scores        nImages doubles
%    22  pooledValues  nImages x nElements doubles
%    23-26 (unused)    not read
%
%   Maps as one array: responseMaps may also be the nRows x nCols x N x
%   nImages double array (maps(:,:,k,i) is image i at orientation k-1),
%   patches the (2*patchHalf+1)^2 x N array and renderMaps the nRows x nCols
%   x nImages array; the results land in such an array as in cells, bit for
%   bit, and the host's cost per cell is not paid.
%
%   Threads: see otk_threads (environment variable OTK_NUM_THREADS).
%
%   Ctrl-C does not stop a call: Halvery writes its results into the arrays
%   given, and a call stopped half way would leave them half written, so
%   it finishes what it has started (the host stops after it returns).
%   For long work use otk_score_template, which stops within a fraction of a
%   second and returns nothing.
%
%   For every element e and image i the element's response is pooled: the
%   largest value found when its position is shifted along its orientation
%   and its orientation is moved up to oriRange steps either way (wrapping),
%   capped at saturation; 0 when nothing above 0 is found. A negative
%   saturation caps every pooled value at that saturation, below 0. Then
%     pooledValues(i, e) = v                          (overwritten)
%     scores(i) = scores(i) + (elemWeight(e)*v - elemBias(e))   (ACCUMULATES)
%   and, if v > 0, patch of the winning orientation, times sqrt(v), is drawn
%   centred on the winning sample: renderMaps{i} keeps the larger value
%   (RAISED, never lowered). Patch entries outside the map are clipped.
%
%   Results are written IN PLACE into arguments 15, 21 and 22; nothing is
%   returned. Asking for an output raises Halvery:nargout;
%   otk_score_template returns new arrays and never modifies its inputs.
%   Traps of the zero-copy route: writes reach every variable sharing the
%   data (b = a, c = {a}, repmat({a}, 1, 2)), and are lost without a word in
%   a diagonal matrix such as eye(2) or a range such as 1:3.
%
%   Errors (nothing is written when one is raised): Halvery:nargin (fewer
%   than 26 inputs), Halvery:nargout (an output requested),
%   Halvery:notScalar, :notFinite, :intRange (an integer
%   scalar that is not a real finite scalar fitting an int),
%   :negativeCount (nImages or N below 0), :notCell, :tooFewCells,
%   :badCell, :cellTooSmall, :tooFewMaps (grids), :notDouble, :tooShort (element and
%   result arrays), :badValue (element rows, columns or orientations that
%   do not fit an int), :badOrientation (an element orientation outside
%   0..N-1), :shiftRange (below 0), :oriRange (below 0 or above N), :shiftStep
%   (shiftRange*shiftStep too large), :patchHalf (too large),
%   :outOfMemory. Each message names the argument and its position.
%
%   Example:
%     maps = {zeros(5), zeros(5)};  maps{1}(4, 3) = 4;
%     renders = {zeros(5)};  scores = zeros(1, 1);  pooled = zeros(1, 1);
%     Halvery(1, 2, maps, {}, 1, 5, 5, 0, 0, 3, 3, 2, 1, {ones(3), ones(3)}, ...
%             renders, 1, 0, 1, 1, 10, scores, pooled, 0, 0, 0, 0);
%     scores      % 7: 2*4 - 1
%     renders{1}  % 2 in rows 3-5, columns 2-4
%
%   See also otk_score_template, Wendlow, Fenwold, Porrith, Mundle, Sabrel.

error('Halvery:notBuilt', 'Halvery: the compiled plug-in is not on the path; build it (tools/build.sh)');

%!shared maps, patches
%! maps = {zeros(5), zeros(5)};
%! maps{1}(4, 3) = 4;
%! patches = {ones(3), ones(3)};

%!test
%! ## The worked call: the element finds 4 one row below it.
%! renders = {zeros(5)};  scores = zeros(1, 1);  pooled = zeros(1, 1);
%! Halvery(1, 2, maps, {}, 1, 5, 5, 0, 0, 3, 3, 2, 1, patches, renders, 1, 0, 1, 1, 10, ...
%!         scores, pooled, 0, 0, 0, 0);
%! expected = zeros(5);
%! expected(3:5, 2:4) = 2;
%! assert ([scores pooled], [7 4]);
%! assert (renders{1}, expected);
%! ## A second call adds to the scores; the rest ends as after one call.
%! Halvery(1, 2, maps, {}, 1, 5, 5, 0, 0, 3, 3, 2, 1, patches, renders, 1, 0, 1, 1, 10, ...
%!         scores, pooled, 0, 0, 0, 0);
%! assert ([scores pooled], [14 4]);
%! assert (renders{1}, expected);

%!test
%! ## A negative saturation gives negative pooled values and draws nothing.
%! renders = {zeros(5)};  scores = zeros(1, 1);  pooled = zeros(1, 1);
%! Halvery(1, 2, maps, {}, 1, 5, 5, 0, 0, 3, 3, 2, 1, patches, renders, 1, 0, 1, 1, -2, ...
%!         scores, pooled, 0, 0, 0, 0);
%! assert ([scores pooled], [-5 -2]);
%! assert (renders{1}, zeros(5));

%!test
%! ## Results are written into the caller's storage, shared or not; a
%! ## range passed as a result loses the write.
%! scores = zeros(1, 1);  alias = scores;  pooled = 1:1;
%! Halvery(1, 2, maps, {}, 1, 5, 5, 0, 0, 3, 3, 2, 1, patches, {zeros(5)}, 1, 0, 1, 1, 10, ...
%!         scores, pooled, 0, 0, 0, 0);
%! assert ([scores alias], [7 7]);

%!error id=Halvery:nargin Halvery(1, 2)
%!error id=Halvery:badOrientation ...
%!  Halvery(1, 2, maps, {}, 1, 5, 5, 0, 2, 3, 3, 2, 1, patches, {zeros(5)}, 1, 0, 1, 1, 10, 0, 0, 0, 0, 0, 0)
%!error id=Halvery:nargout s = Halvery(1, 2)
