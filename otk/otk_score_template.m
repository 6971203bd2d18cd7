%OTK_SCORE_TEMPLATE  Score a template on a batch of images: scores, pooled values and render maps.
%   [SCORES, POOLED, RENDERS] = OTK_SCORE_TEMPLATE(MAPS, TEMPLATE)
%   [...] = OTK_SCORE_TEMPLATE(MAPS, TEMPLATE, 'Name', value, ...)
%
%   MAPS holds the response maps, one per orientation and image, either as
%   a numeric array of nRows x nCols x N x nImages (MAPS(:,:,k,i) is the map
%   of image i at orientation k-1), or as an nImages x N cell array of
%   nRows x nCols maps. Every map must have the same size; the sizes are
%   taken from MAPS. Any real numeric class is accepted (converted to
%   double). TEMPLATE is a struct with the fields orientation (0..N-1), row,
%   column, weight and bias, one entry per element (see otk_template).
%
%   For every element e and image i the element's response is pooled: the
%   largest response found when the element is moved by -ShiftRange to
%   ShiftRange steps of ShiftStep pixels along its own orientation, in its
%   orientation and the OriRange orientations either side (wrapping), capped
%   at Saturation; 0 when nothing above 0 is found. Then
%     POOLED(i, e)  = v                                      (nImages x K)
%     SCORES(i)     = sum over e of weight(e)*v - bias(e)    (nImages x 1)
%   and, where v > 0, the patch of the winning orientation times sqrt(v) is
%   drawn centred on the winning position into RENDERS, keeping the larger
%   value where drawings overlap. RENDERS is nRows x nCols x nImages when
%   MAPS is numeric, and an nImages x 1 cell array of maps when MAPS is a
%   cell array.
%
%   Options (name-value pairs, names in any case):
%     'ShiftRange'  pooling shifts either side, a whole number >= 0 (1)
%     'OriRange'    pooling orientations either side, 0..N (1)
%     'ShiftStep'   pixels per pooling shift, a whole number (1)
%     'Saturation'  cap of every pooled value, not NaN (Inf: no cap); a
%                   negative cap gives negative pooled values
%     'Patches'     the drawing patch of each orientation: a numeric
%                   (2h+1) x (2h+1) x N array or a cell list of N such
%                   matrices (default, or []: a single 1, so each element
%                   draws one pixel of sqrt(v)); other empty values ('',
%                   {}, struct([])) are wrong
%
%   MAPS and TEMPLATE are never modified and the outputs are new arrays.
%   The results are bit for bit those of the compiled Halvery on the same
%   data; Halvery is the zero-copy route that writes into arrays you pass
%   (see its help for the copy-on-write traps).
%
%   Errors (ids otk:<mnemonic>, in the style of validateattributes): nargin,
%   notNumeric, notReal, sparse, badSize, badMapSize (maps of different
%   sizes), badTemplate, notInteger, badOrientation (outside 0..N-1),
%   notScalar, notFinite, negative, outOfRange, badPatches, badOption,
%   unknownOption.
%
%   Example:
%     maps = zeros(5, 5, 2);  maps(4, 3, 1) = 4;     % one image, N = 2
%     tpl = otk_template(0, 3, 3, 2, 1);             % weight 2, bias 1
%     [scores, pooled] = otk_score_template(maps, tpl)   % 7 and 4
%
%   See also otk_template, otk_search_transform, otk_transform_template, Halvery.

% This file holds the help and the tests of the compiled function of the
% same name. Run alone, without the compiled function beside it, it says so.
error('otk:notBuilt', ...
      'otk_score_template: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!shared maps, tpl
%! maps = zeros(5, 5, 2);
%! maps(4, 3, 1) = 4;
%! tpl = otk_template(0, 3, 3, 2, 1);

%!test
%! [s, p, r] = otk_score_template(maps, tpl, 'Patches', ones(3, 3, 2));
%! assert (s, 7);
%! assert (p, 4);
%! expected = zeros(5);
%! expected(3:5, 2:4) = 2;
%! assert (r, expected);

%!test
%! ## The cell grid gives the same bits; the renders come back as cells.
%! [s, p, r] = otk_score_template({maps(:, :, 1), maps(:, :, 2)}, tpl);
%! assert (s, 7);
%! assert (iscell (r) && isequal (size (r), [1 1]));
%! assert (r{1}(4, 3), 2);

%!test
%! ## A negative cap gives negative pooled values.
%! [s, p] = otk_score_template(maps, tpl, 'Saturation', -1);
%! assert (p, -1);
%! assert (s, -3);

%!test
%! ## No pooling: the element sees only its own position.
%! [s, p] = otk_score_template(maps, tpl, 'shiftrange', 0);
%! assert ([s p], [-1 0]);

%!error id=otk:badOrientation otk_score_template(maps, otk_template(2, 3, 3))
%!error id=otk:badMapSize otk_score_template({zeros(5), zeros(6)}, tpl)
%!error id=otk:unknownOption otk_score_template(maps, tpl, 'ShiftRanges', 1)
%!error id=otk:badPatches otk_score_template(maps, tpl, 'Patches', ones(2, 2, 2))
%!error id=otk:outOfRange otk_score_template(maps, tpl, 'OriRange', 3)
%!error id=otk:badOption otk_score_template(maps, tpl, 'ShiftRange')

%!demo
%! ## A bar response one row below a template element: the pooling along the
%! ## element's orientation finds it, and the render shows where.
%! maps = zeros(7, 7, 4);
%! maps(5, 4, 1) = 4;
%! tpl = otk_template(0, 4, 4, 2, 1);
%! [scores, pooled, render] = otk_score_template(maps, tpl, 'Patches', ones(3, 3, 4))
