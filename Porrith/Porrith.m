%PORRITH  Saturate response maps and histogram their interior into a density.
%   PORRITH(nImages, N, responseMaps, margin, nRows, nCols, binWidth, nBins,
%           histogram, saturationLevel)
%
%   Inputs (10; more are ignored), as you count them:
%     1  nImages          rows of the cell grid (rounded, halves up)
%     2  N                columns of the cell grid
%     3  responseMaps     nImages x N cell array of nRows x nCols maps
%     4  margin           border left out of the histogram region
%     5  nRows            rows of every map
%     6  nCols            columns of every map
%     7  binWidth         width of one bin (positive)
%     8  nBins            number of bins
%     9  histogram        nBins doubles
%    10  saturationLevel  the level s of the sigmoid (as in Fenwold)
%
%   Maps as one array: responseMaps may also be the nRows x nCols x N x
%   nImages double array (cell {i,k} at (:,:,k,i)), saturated in place.
%
%   Threads: see otk_threads (environment variable OTK_NUM_THREADS).
%
%   Ctrl-C does not stop a call: Porrith writes its results into the arrays
%   given, and a call stopped half way would leave them half written, so
%   it finishes what it has started (the host stops after it returns).
%   For long work use otk_response_density, which stops within a fraction of a
%   second and returns nothing.
%
%   First every element of every map is saturated in place, exactly as
%   Fenwold does. Then the saturated values q of rows margin+1 to
%   nRows-margin-1 and columns margin+1 to nCols-margin-1 are counted (one
%   more row and column are left out at the bottom and right than at the
%   top and left): value q adds 1 to bin floor(q/binWidth) (0-based), values at
%   or above the last bin and NaN to the last bin, values below 0 to the
%   first. Last, the whole histogram is divided by binWidth times the
%   number of values counted, so a zero histogram becomes a density whose
%   bins times binWidth sum to 1. An empty region divides by 0 (NaN and
%   Inf), as a caller normalising nothing would.
%
%   The maps and the histogram are changed IN PLACE; nothing is returned.
%   The histogram ACCUMULATES: pass zeros(1, nBins) for a fresh density.
%   Maps already saturated by Fenwold are saturated again. Asking for an
%   output raises Porrith:nargout; otk_response_density returns new arrays
%   and never modifies its inputs. Traps of the zero-copy route: writes
%   reach every variable sharing the data (b = a, c = {a}, repmat({a}, 1,
%   2)), and are lost without a word in a diagonal matrix such as eye(2) or
%   a range such as 1:3.
%
%   Errors (nothing is written when one is raised): Porrith:nargin (fewer
%   than 10 inputs), Porrith:nargout (an output requested),
%   Porrith:notScalar, :notFinite, :intRange (integer
%   scalars), :negativeCount (nImages or N below 0), :notCell,
%   :tooFewCells, :badCell, :cellTooSmall, :tooFewMaps (the grid), :notDouble, :tooShort
%   (histogram), :margin (below 0), :nBins (below 1) and :binWidth (not a
%   positive number), these two only while the region holds some value,
%   :outOfMemory. Each message names the argument and
%   its position.
%
%   Example:
%     maps = {zeros(4)};  maps{1}(2, 2) = 0.5;  h = zeros(1, 4);
%     Porrith(1, 1, maps, 1, 4, 4, 0.25, 4, h, 1);
%     h   % [0 4 0 0]: 0.4621 lies in bin 1
%
%   See also otk_response_density, Fenwold, Halvery.

error('Porrith:notBuilt', 'Porrith: the compiled plug-in is not on the path; build it (tools/build.sh)');

%!shared region
%! region = zeros(4);
%! region(2, 2) = 0.5;

%!test
%! h = zeros(1, 4);
%! Porrith(1, 1, {region .* 1}, 1, 4, 4, 0.25, 4, h, 1);
%! assert (h, [0 4 0 0]);

%!test
%! ## The histogram accumulates before it is normalised by this call's count.
%! h = [1 0 0 0];
%! m = zeros(4);
%! m(2, 2) = 100;
%! Porrith(1, 1, {m}, 1, 4, 4, 0.25, 4, h, 1);
%! assert (h, [4 0 0 4]);

%!test
%! ## An empty region divides by a count of 0.
%! h = zeros(1, 2);
%! Porrith(1, 1, {zeros(3)}, 1, 3, 3, 0.5, 2, h, 1);
%! assert (all (isnan (h)));

%!error id=Porrith:nargin Porrith(1, 1)
%!error id=Porrith:nargout h = Porrith(1, 1)
