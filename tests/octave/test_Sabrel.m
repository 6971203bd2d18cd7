% Sabrel in the real host: the worked 3 x 3 warps, shared storage between
% sources and results, and wrong calls that raise and change nothing.

m = warp_map();
function r = warped(m, N, dX, dY, dO)
  r = {-7 * ones(size(m))};
  Sabrel(1, N, {m}, r, rows(m), columns(m), dX, dY, dO);
  r = r{1};
end

assert(isequal(warped(m, 2, 0, 0, 0), m));
assert(isequal(warped(m, 2, 0, 0, 1), [20 10 0; 21 11 1; 22 12 2]));
assert(isequal(warped(m, 2, 0, 0, 2), [22 21 20; 12 11 10; 2 1 0]));
assert(isequal(warped(m, 2, 1, 0, 0), [10 11 12; 20 21 22; 0 0 0]));
assert(isequal(warped(m, 2, 0, -1, 0), [0 0 1; 0 10 11; 0 20 21]));
assert(isequal(warped(m, 2, 1.9, 0, -1.9), warped(m, 2, 1, 0, -1)));
assert(isequal(warped(m, 2, 0, -1.9, 1.9), warped(m, 2, 0, -1, 1)));
m4 = warp_map(4);
assert(isequal(warped(m4, 4, 0, 0, 4), [zeros(1, 4); zeros(3, 1), rot90(m4(2:4, 2:4), 2)]));
for dO = -5:5
  r = warped(warp_map(5), 4, 1, -2, dO);
  assert(r(3, 3) == 30);
end

% Two maps, two rotations.
r = {zeros(3), zeros(3)};
Sabrel(2, 2, {m, m + 100}, r, 3, 3, [0 0], [0 0], [1 2]);
assert(isequal(r{1}, [20 10 0; 21 11 1; 22 12 2]));
assert(isequal(r{2}, [122 121 120; 112 111 110; 102 101 100]));

% The same cell array as sources and results: the warp of the maps as they
% were before the call.
c = {warp_map(), warp_map(3, 3, 100)};
Sabrel(2, 2, c, c, 3, 3, [0 0], [0 0], [1 2]);
assert(isequal(c, r));
% Result 1 shares its data with source 2.
s = {warp_map(), warp_map(3, 3, 100)};
r = {s{2}, zeros(3)};
Sabrel(2, 2, s, r, 3, 3, [0 0], [0 0], [1 2]);
assert(isequal(r{1}, [20 10 0; 21 11 1; 22 12 2]));
assert(isequal(r{2}, [122 121 120; 112 111 110; 102 101 100]));

% Wrong calls.
a = {2, 2, {m, m}, {zeros(3), zeros(3)}, 3, 3, [0 0], [0 0], [1 2]};
function b = changed(a, p, v)
  b = a;
  b{p} = v;
end
warp_expect_untouched('Sabrel:nargin', @Sabrel, a(1:8));
warp_expect_untouched('Sabrel:notScalar', @Sabrel, changed(a, 1, 'x'));
warp_expect_untouched('Sabrel:N', @Sabrel, changed(a, 2, 0));
warp_expect_untouched('Sabrel:notCell', @Sabrel, changed(a, 3, int32(m)));
warp_expect_untouched('Sabrel:tooFewMaps', @Sabrel, changed(a, 3, m));
warp_expect_untouched('Sabrel:tooFewCells', @Sabrel, changed(a, 4, {zeros(3)}));
warp_expect_untouched('Sabrel:cellTooSmall', @Sabrel, changed(a, 4, {zeros(3), zeros(2)}));
warp_expect_untouched('Sabrel:badCell', @Sabrel, changed(a, 3, {m, int32(m)}));
warp_expect_untouched('Sabrel:notDouble', @Sabrel, changed(a, 7, single([0 0])));
warp_expect_untouched('Sabrel:tooShort', @Sabrel, changed(a, 8, 0));
warp_expect_untouched('Sabrel:badValue', @Sabrel, changed(a, 9, [1 NaN]));

% Nothing visited: any N, nothing written; extra inputs ignored.
r = {-ones(3)};
Sabrel(1, 0, {m}, r, 0, 3, 0, 0, 0);
assert(isequal(r{1}, -ones(3)));
Sabrel(1, 2, {m}, r, 3, 3, 0, 0, 2, 'extra');
assert(isequal(r{1}, [22 21 20; 12 11 10; 2 1 0]));

disp('test_Sabrel: all checks passed');
