%OTK_TRANSFORM_TEMPLATE  Move a template: rotate and shift it by a search answer.
%   MOVED = OTK_TRANSFORM_TEMPLATE(TEMPLATE, TRANSFORM) turns every element
%   of TEMPLATE by TRANSFORM.rotation orientation steps of pi/N about
%   TRANSFORM.centre, moves it by (TRANSFORM.rowShift,
%   TRANSFORM.columnShift), rounds its position to the nearest pixel and
%   turns its orientation by the same steps (modulo N). TRANSFORM is one
%   element of the result of otk_search_transform, or a struct you make
%   with the fields rowShift, columnShift, rotation (whole numbers),
%   orientations (N) and centre ([row, column], counted from 1).
%
%   The elements are moved by otk_transform_points, the toolbox's own point
%   transform, the one the search uses: the moved template lands exactly
%   where the search placed it, so otk_score_template scores it, without
%   pooling, at the score the search reported. Other fields of TEMPLATE are
%   kept. TEMPLATE is not modified.
%
%   Errors (ids otk:<mnemonic>): nargin (other than 2 inputs), badTransform
%   (a field missing),
%   notFinite (a NaN shift: the search found no answer), notInteger, and
%   those of the template checks (badTemplate, badOrientation, ...).
%
%   Example:
%     tpl = otk_template(0, 6, 4);
%     t = struct('rowShift', 1, 'columnShift', 1, 'rotation', 4, ...
%                'orientations', 4, 'centre', [4 4]);
%     moved = otk_transform_template(tpl, t);
%     [moved.row moved.column moved.orientation]   % 3 5 0
%
%   See also otk_search_transform, otk_transform_points, otk_template.

% This file holds the help and the tests of the compiled function of the
% same name. Run alone, without the compiled function beside it, it says so.
error('otk:notBuilt', ...
      'otk_transform_template: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!test
%! tpl = otk_template([0 3], [6 4], [4 7], [1 2], [0 1]);
%! t = struct('rowShift', 1, 'columnShift', 1, 'rotation', 4, 'orientations', 4, 'centre', [4 4]);
%! moved = otk_transform_template(tpl, t);
%! assert (moved.row, [3 5]);
%! assert (moved.column, [5 2]);
%! assert (moved.orientation, [0 3]);
%! assert ([moved.weight moved.bias], [1 2 0 1]);

%!test
%! ## A quarter turn (N = 16, 8 steps) about (10, 20): (11, 20) goes to (10, 21).
%! t = struct('rowShift', 0, 'columnShift', 0, 'rotation', 8, 'orientations', 16, 'centre', [10 20]);
%! moved = otk_transform_template(otk_template(15, 11, 20), t);
%! assert ([moved.row moved.column moved.orientation], [10 21 7]);

%!error id=otk:badTransform otk_transform_template(otk_template(0, 1, 1), struct('rowShift', 0))
%!error id=otk:notFinite otk_transform_template(otk_template(0, 1, 1), ...
%!   struct('rowShift', NaN, 'columnShift', 0, 'rotation', 0, 'orientations', 4, 'centre', [2 2]))
