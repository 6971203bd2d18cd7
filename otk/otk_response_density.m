%OTK_RESPONSE_DENSITY  Histogram saturated responses into a density; also the number of values binned.
%   [DENSITY, COUNT, SATURATED] = OTK_RESPONSE_DENSITY(MAPS)
%   [...] = OTK_RESPONSE_DENSITY(MAPS, 'Name', value, ...)
%
%   MAPS is an nRows x nCols x N x nImages numeric array or an nImages x N
%   cell grid of nRows x nCols maps (any real numeric class). Every value
%   is saturated (as otk_saturate does, with the level Saturation), and the
%   saturated values q of the region rows Margin+1 .. nRows-Margin-1 and
%   columns Margin+1 .. nCols-Margin-1 of every map are counted into bins:
%   bin b (counted from 1) takes floor(q/BinWidth) = b-1, the last bin also
%   everything above and NaN; values below 0 go to the first bin. (The
%   region leaves one more row and column out at the bottom and right than
%   at the top and left.)
%
%   DENSITY (1 x Bins) is the histogram divided by BinWidth*COUNT, so that
%   sum(DENSITY)*BinWidth is 1. COUNT is the number of values binned in
%   this call. SATURATED holds the saturated maps, in the layout of MAPS.
%   With an empty region COUNT is 0 and DENSITY is NaN.
%
%   To pool several batches, weight each density by its count:
%     total = (d1*n1 + d2*n2) / (n1 + n2)
%   (The compiled Porrith adds its counts to the histogram it is given and
%   then divides the whole histogram by this call's count alone, so feeding
%   it an earlier density does not pool; accumulate first, normalise last.)
%
%   Options (name-value pairs, names in any case):
%     'Saturation'  level of the sigmoid, a finite number above 0 (1)
%     'Bins'        number of bins, a whole number from 1 to 2^20 (20)
%     'BinWidth'    width of a bin, a finite number above 0
%                   (Saturation/Bins: the bins cover 0 to the level);
%                   [] is the default, any other value must be a number
%     'Margin'      border left out, a whole number >= 0 (0)
%
%   MAPS is never modified; the outputs are new. DENSITY is bit for bit
%   the compiled Porrith's on the same data with a zero histogram
%   (Porrith is the zero-copy route: it saturates your maps in place).
%
%   Errors (ids otk:<mnemonic>): nargin, notNumeric, notReal, sparse,
%   badSize, badMapSize, notScalar, notFinite, notInteger, negative,
%   notPositive, outOfRange (Bins above 2^20), badOption, unknownOption (a
%   name not among the options, also one cut short by a NUL character).
%
%   Example:
%     maps = zeros(4);  maps(2, 2) = 0.5;
%     [d, n] = otk_response_density(maps, 'Margin', 1, 'Bins', 4)
%     % d = [0 4 0 0], n = 1: 0.4621 lies in the second bin of 0.25
%
%   See also otk_saturate, Porrith.

% This file holds the help and the tests of the compiled function of the
% same name. Run alone, without the compiled function beside it, it says so.
error('otk:notBuilt', ...
      'otk_response_density: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!shared map
%! map = zeros(4);
%! map(2, 2) = 0.5;

%!test
%! [d, n] = otk_response_density(map, 'Margin', 1, 'Bins', 4, 'BinWidth', 0.25);
%! assert (d, [0 4 0 0]);
%! assert (n, 1);

%!error id=otk:outOfRange otk_response_density(magic(4), 'Bins', 2^31-1)
%!error id=otk:notNumeric otk_response_density(magic(4), 'BinWidth', '')
%!error id=otk:unknownOption otk_response_density(magic(4), ['Bins' char(0) 'x'], 2)

%!test
%! ## The last bin takes what lies above; the default width covers 0..level.
%! m = map;
%! m(2, 2) = 100;
%! [d, n] = otk_response_density(m, 'Margin', 1, 'Bins', 4);
%! assert ([d n], [0 0 0 4 1]);

%!test
%! ## Margin 0: rows and columns 1-3 of a 4 x 4 map, 9 values.
%! [d, n, s] = otk_response_density(map);
%! assert (n, 9);
%! assert (sum (d) * 0.05, 1, 1e-12);
%! assert (s(2, 2), otk_saturate(0.5));
%! assert (map(2, 2), 0.5);

%!test
%! ## Two batches pooled by count equal one call on both.
%! rand ('state', 3);
%! a = rand(6, 6, 2);
%! b = rand(6, 6, 2, 3);
%! [da, na] = otk_response_density(a, 'Margin', 1);
%! [db, nb] = otk_response_density(b, 'Margin', 1);
%! [dab, nab] = otk_response_density(cat(4, a, b), 'Margin', 1);
%! assert (nab, na + nb);
%! assert ((da * na + db * nb) / (na + nb), dab, 1e-12);

%!test
%! ## An empty region: nothing binned, a NaN density.
%! [d, n] = otk_response_density(zeros(3), 'Margin', 1, 'Bins', 2);
%! assert (n, 0);
%! assert (all (isnan (d)));

%!error id=otk:negative otk_response_density(map, 'Margin', -1)
%!error id=otk:notPositive otk_response_density(map, 'BinWidth', 0)
%!error id=otk:unknownOption otk_response_density(map, 'bins', 4, 'Level', 2)

%!demo
%! ## The density of saturated random responses, drawn as bars.
%! rand ('state', 1);
%! maps = 2 * rand(32, 32, 4);
%! [d, n] = otk_response_density(maps, 'Margin', 2, 'Bins', 10);
%! printf ('%d values binned\n', n);
%! bar ((0.5:10) / 10, d);
%! xlabel ('saturated response');
%! ylabel ('density');
