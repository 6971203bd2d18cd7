%OTK_SEARCH_TRANSFORM  Search, per image, the rotation and shift under which a template matches best.
%   RESULT = OTK_SEARCH_TRANSFORM(MAPS, TEMPLATE)
%   [SCORE, ROWSHIFT, COLUMNSHIFT, ROTATION] = OTK_SEARCH_TRANSFORM(MAPS, TEMPLATE)
%   [...] = OTK_SEARCH_TRANSFORM(..., 'Name', value, ...)
%
%   MAPS and TEMPLATE are as in otk_score_template: an nRows x nCols x N x
%   nImages array or an nImages x N cell grid of maps, and a struct with the
%   fields orientation, row, column, weight and bias.
%
%   The candidates are every rotation r = 0, 4, 8, ... below 2*N orientation
%   steps (a step is pi/N; 8 rotations of 45 degrees for N = 16) about the
%   centre (floor(nRows/2), floor(nCols/2)), counted from 1, each followed by
%   every shift s, t in -1..1 of rows and columns: 9*ceil(N/2) candidates. A
%   candidate's score is the template's score (as in otk_score_template) with
%   every element moved by otk_transform_points and its orientation turned
%   by r. The first best candidate in the order r, s, t wins; a score of
%   -1000 or less never wins. docs/geometry.md shows the geometry.
%
%   RESULT is an nImages x 1 struct array with the fields
%     score        the best candidate's score (-1000 when none scored above)
%     rowShift     its row shift s, -1..1     (NaN when none scored above -1000)
%     columnShift  its column shift t, -1..1  (NaN likewise)
%     rotation     its rotation r, in orientation steps of pi/N (NaN likewise)
%     orientations N
%     centre       [floor(nRows/2), floor(nCols/2)], the centre of rotation
%   Element i of RESULT moves the template onto image i with
%   otk_transform_template(TEMPLATE, RESULT(i)). With more than one output,
%   the four first fields come back as nImages x 1 columns instead.
%
%   Options (name-value pairs, names in any case), as in otk_score_template
%   but with other defaults:
%     'ShiftRange'  pooling shifts either side (0)
%     'OriRange'    pooling orientations either side, 0..N (0)
%     'ShiftStep'   pixels per pooling shift (1)
%     'Saturation'  cap of every pooled value, not NaN (Inf)
%   Without pooling, neighbouring candidate shifts do not see the same
%   responses, so the search can tell them apart.
%
%   MAPS and TEMPLATE are never modified; the outputs are new. The numbers
%   are bit for bit those of the compiled Wendlow on the same data (the
%   zero-copy route, see its help).
%
%   Errors (ids otk:<mnemonic>): as otk_score_template.
%
%   Example:
%     maps = zeros(9, 9, 4);  maps(3, 5, 1) = 1;
%     r = otk_search_transform(maps, otk_template(0, 6, 4))
%     % score 1, rowShift 1, columnShift 1, rotation 4: a half turn about
%     % (4, 4) takes row 6 to row 2, the shifts to (3, 5)
%
%   See also otk_transform_template, otk_transform_points, otk_score_template, Wendlow.

% This file holds the help and the tests of the compiled function of the
% same name. Run alone, without the compiled function beside it, it says so.
error('otk:notBuilt', ...
      'otk_search_transform: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!shared maps, tpl
%! maps = zeros(9, 9, 4);
%! maps(3, 5, 1) = 1;
%! tpl = otk_template(0, 6, 4);

%!test
%! r = otk_search_transform(maps, tpl);
%! assert ([r.score r.rowShift r.columnShift r.rotation], [1 1 1 4]);
%! assert (r.orientations, 4);
%! assert (r.centre, [4 4]);

%!test
%! ## All responses 0: every candidate scores 0 and the first one wins.
%! [s, dr, dc, rot] = otk_search_transform(zeros(9, 9, 4, 2), tpl);
%! assert ([s dr dc rot], repmat([0 -1 -1 0], 2, 1));

%!test
%! ## No candidate above -1000: no answer.
%! r = otk_search_transform(maps, otk_template(0, 6, 4, 1, 2000));
%! assert (r.score, -1000);
%! assert (isnan ([r.rowShift r.columnShift r.rotation]));

%!test
%! ## The template moved by the answer scores what the search found.
%! r = otk_search_transform(maps, tpl);
%! moved = otk_transform_template(tpl, r);
%! assert (otk_score_template(maps, moved, 'ShiftRange', 0, 'OriRange', 0), r.score);

%!test
%! ## Many images (the host's struct() makes the answers, from 8 images on)
%! ## and one image: the same values as the four outputs, NaN where no
%! ## candidate wins.
%! for n = [1 9]
%!   many = repmat(maps, [1 1 1 n]);
%!   many(:, :, :, end) = 0;
%!   worst = otk_template([0 0], [6 6], [4 4], [1 1], [500 500]);
%!   r = otk_search_transform(many, worst);
%!   [s, dr, dc, rot] = otk_search_transform(many, worst);
%!   assert (size (r), [n 1]);
%!   assert (fieldnames (r)', {"score", "rowShift", "columnShift", "rotation", "orientations", "centre"});
%!   assert ([[r.score]' [r.rowShift]' [r.columnShift]' [r.rotation]'], [s dr dc rot]);
%!   assert ([r.orientations], repmat (4, 1, n));
%!   assert (r(end).centre, [4 4]);
%! end

%!error id=otk:badOrientation otk_search_transform(maps, otk_template(4, 6, 4))
%!error id=otk:notInteger otk_search_transform(maps, tpl, 'ShiftStep', 0.5)

%!demo
%! ## A map stack turned by half a turn and shifted: the search finds the
%! ## rotation and shift that carry the template onto it.
%! maps = zeros(9, 9, 4);
%! maps(3, 5, 1) = 1;
%! result = otk_search_transform(maps, otk_template(0, 6, 4))
