%OTK_TRANSFORM_POINTS  Rotate and shift oriented points with the toolbox's point transform.
%   [ROWS2, COLS2, ORIS2] = OTK_TRANSFORM_POINTS(N, centreRow, centreCol,
%                          rows, cols, orientations, rowShift, colShift,
%                          rotation)
%
%   Inputs (9), as you count them:
%     1  N             number of orientations: one rotation step is pi/N
%     2  centreRow     centre of rotation, row
%     3  centreCol     centre of rotation, column
%     4  rows          point rows (any shape)
%     5  cols          point columns, as many as rows
%     6  orientations  point orientation indexes, as many as rows
%     7  rowShift      added to every row after the rotation
%     8  colShift      added to every column after the rotation
%     9  rotation      rotation in orientation steps of pi/N
%
%   Each point (row, col) is turned by rotation*pi/N about the centre, from
%   the row axis toward the column axis, then moved by (rowShift, colShift)
%   and rounded to the nearest whole position, halves up; its orientation
%   becomes mod(orientation + rotation, N). The arithmetic is the toolbox's
%   one point transform, the one Wendlow, Sabrel and Mundle use, with its
%   own approximation of pi (3.1415926) and its own rounding; see
%   docs/geometry.md. Positions are numbered as you number the centre:
%   Wendlow's search turns about (floor(nRows/2), floor(nCols/2)) counted
%   from 1, Sabrel and Mundle about the same numbers counted from 0.
%
%   All inputs are double; every value must be a whole number fitting a
%   32-bit int and N at least 1. The three outputs are new arrays of the
%   shape of rows.
%
%   Errors (ids otk:<mnemonic>): nargin (other than 9 inputs), nargout
%   (more than 3 outputs), notScalar (not a real, full numeric scalar:
%   sparse is refused), notInteger, N, notDouble, sizeMismatch. Each
%   message names the argument and its position.
%
%   Example:
%     [r, c, o] = otk_transform_points(16, 10, 20, [11 10], [20 21], [0 3], 0, 0, 8)
%     % a quarter turn: r = [10 9], c = [21 20], o = [8 11]
%
%   See also otk_transform_template, otk_search_transform, Wendlow.

% This file holds the help of the compiled function of the same name. Run
% alone, without the compiled function beside it, it says so.
error('otk_transform_points:notBuilt', ...
      'otk_transform_points: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!test
%! ## Worked values: a quarter turn and an eighth turn.
%! [r, c, o] = otk_transform_points(16, 10, 20, [11 10], [20 21], [0 3], 0, 0, 8);
%! assert ([r; c; o], [10 9; 21 20; 8 11]);
%! [r, c] = otk_transform_points(16, 0, 0, 10, 0, 0, 0, 0, 4);
%! assert ([r c], [7 7]);

%!test
%! ## Half turn about (10, 20): (13, 25) lands on (7, 15); the orientation stays.
%! [r, c, o] = otk_transform_points(16, 10, 20, 13, 25, 5, 0, 0, 16);
%! assert ([r c o], [7 15 5]);

%!test
%! ## Orientations wrap into 0..N-1 and results keep the shape of rows.
%! [r, c, o] = otk_transform_points(16, 0, 0, zeros(2, 3), zeros(2, 3), [-1 -16 -33; 16 40 47] - 0, 0, 0, 0);
%! assert (o, [15 0 15; 0 8 15]);
%! assert (size (r), [2 3]);

%!error id=otk:nargin otk_transform_points(1, 2, 3)
%!error id=otk:nargin otk_transform_points(4, 2, 2, 1, 1, 0, 0, 0, 1, 99)
%!error id=otk:notInteger otk_transform_points(4, 0, 0, 1.5, 0, 0, 0, 0, 0)
%!error id=otk:sizeMismatch otk_transform_points(4, 0, 0, [1 2], 0, 0, 0, 0, 0)
%!error id=otk:N otk_transform_points(0, 0, 0, 1, 0, 0, 0, 0, 0)
%!error id=otk:notDouble otk_transform_points(4, 0, 0, int8(1), 0, 0, 0, 0, 0)
%!error id=otk:notScalar otk_transform_points(sparse(4), 2, 2, 1, 1, 0, 0, 0, sparse(0))
