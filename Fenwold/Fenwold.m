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
%   Every element v of every map becomes s*(2/(exp(-2*v/s) + 1) - 1), that
%   is s*tanh(v/s): about v for small v, tending to +s and -s. The result is
%   exactly s when v/s >= 40 and -s when v/s <= -40. With s = 0, positive
%   values become 0, negative values -0 and zeros NaN.
%
%   The maps are changed IN PLACE; nothing is returned. Calling twice
%   saturates twice. A variable sharing data with a map you pass sees the
%   change too; a map held by two cells is saturated once per cell.
%
%   Errors (nothing is written when one is raised): Fenwold:nargin (fewer
%   than 6 inputs), Fenwold:notScalar, :notFinite, :intRange (integer
%   scalars), :negativeCount (nImages or N below 0), :notCell, :tooFewCells,
%   :badCell, :cellTooSmall (the grid), :outOfMemory. Each message names the
%   argument and its position.
%
%   Example:
%     maps = {[0 0.5; 1 100]};
%     Fenwold(1, 1, maps, 2, 2, 1);
%     maps{1}   % [0 0.4621; 0.7616 1]
%
%   See also Porrith, Halvery.
