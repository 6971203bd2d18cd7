% The claims of docs/geometry.md, checked on the toolbox itself: which way
% a warp turns the picture and the point transform turns points, the two
% centres, the worked point values, and the search answers of its table for
% stacks warped by otk_warp_stacks.

% A positive warp rotation turns the picture clockwise on screen: a pixel
% two rows below the warp centre (5, 5) of an 8 x 8 map goes two columns
% left of it under a quarter turn.
src = zeros(8);
src(7, 5) = 1;
[r, c] = find(otk_warp_maps(src, 0, 0, 1, 2));
assert(isequal([r c], [5 3]), 'a +90 degree warp does not turn the picture clockwise');
% ... and the point transform turns points the other way, toward the columns.
[r, c, o] = otk_transform_points(8, 4, 4, 7, 4, 0, 0, 0, 4);
assert(isequal([r c o], [4 7 4]));
% Worked values.
[r, c] = otk_transform_points(16, 10, 20, [11 10], [20 21], [0 0], 0, 0, 8);
assert(isequal([r; c], [10 9; 21 20]));
[r, c] = otk_transform_points(16, 10, 20, 13, 25, 0, 0, 0, 16);
assert(isequal([r c], [7 15]));
[r, c] = otk_transform_points(16, 0, 0, 10, 0, 0, 0, 0, 4);
assert(isequal([r c], [7 7]));

% The centres: the search reports its own; a 128 x 128 map turns about
% (64, 64) counted from 1, the warps about (65, 65) counted from 1.
a = otk_search_transform(zeros(128, 128, 2), otk_template(0, 64, 64));
assert(isequal(a.centre, [64 64]));
src = zeros(128);
src(65, 65) = 1;
assert(otk_warp_maps(src, 0, 0, 5, 16)(65, 65) == 1, 'the warp centre is not (65, 65)');

% Search answers for warped stacks: a sparse stack of strong, separated
% responses, the template taken from it, the stack warped, the template
% searched.
seed = 17;
rand('state', seed);
n = 41; N = 16;
stack = zeros(n, n, N);
tpl = otk_template([], [], []);
while numel(tpl.row) < 12
  p = randi([12 30], 1, 2);
  if all((tpl.row - p(1)).^2 + (tpl.column - p(2)).^2 >= 25)
    o = randi([0 N - 1]);
    stack(p(1), p(2), o + 1) = 1;
    tpl = otk_template([tpl.orientation o], [tpl.row p(1)], [tpl.column p(2)], 1, 0.5);
  end
end
table = [0 0 0 0 0 0; 1 -1 0 -1 1 0; -2 0 8 0 0 24; -1 0 8 0 1 24; -1 -1 4 1 1 28; -2 -2 16 0 0 16];
for k = 1:size(table, 1)
  w = table(k, 1:3);
  a = otk_search_transform(otk_warp_stacks(stack, w(1), w(2), w(3)), tpl);
  got = [a.rowShift a.columnShift a.rotation];
  assert(isequal(got, table(k, 4:6)), sprintf('warp (%d,%d,%d): answer (%d,%d,%d) (seed %d)', w, got, seed));
  % Quarter turns move whole pixels onto whole pixels: the match is whole.
  % At 45 degrees the rounding of the warp and of the search may part.
  if mod(w(3), 8) == 0
    assert(a.score == 12 * 0.5, sprintf('warp (%d,%d,%d): the template does not match in full', w));
  end
  % The formula of the page gives the same answer.
  theta = pi * w(3) / N;
  e = [1; 1];
  st = e - [cos(-theta), -sin(-theta); sin(-theta), cos(-theta)] * (e + w(1:2)');
  assert(isequal([round(st') mod(-w(3), 2 * N)], table(k, 4:6)));
end
% Turning by 90 degrees about the warp centre needs a column shift of 2,
% which the search does not try: no candidate matches the template in full.
a = otk_search_transform(otk_warp_stacks(stack, 0, 0, 8), tpl);
assert(a.score < 12 * 0.5);
moved = otk_transform_template(tpl, struct('rowShift', 0, 'columnShift', 2, 'rotation', 24, ...
                                            'orientations', N, 'centre', [20 20]));
assert(otk_score_template(otk_warp_stacks(stack, 0, 0, 8), moved, 'ShiftRange', 0, 'OriRange', 0) == 6, ...
       'the shift (0, 2) does not complete the 90 degree turn');
printf('test_otk_geometry: the geometry page holds\n');
