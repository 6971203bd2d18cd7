% Mundle in the real host: channels follow the rotation, the worked warps,
% shared storage between sources and results, and wrong calls.
1;

% Source channel k + 1 holds 100*k + 10*row + column; the centre tells which
% channel a result channel was sampled from.
function from = channels_read(N, dO)
  s = arrayfun(@(k) warp_map(3, 3, 100 * k), 0:N - 1, 'UniformOutput', false);
  r = arrayfun(@(k) zeros(3), 1:N, 'UniformOutput', false);
  Mundle(1, N, s, r, 3, 3, 0, 0, dO);
  from = cellfun(@(m) floor(m(2, 2) / 100), r);
end

assert(isequal(channels_read(2, 1), [1 0]));
assert(isequal(channels_read(2, 2), [0 1]));
assert(isequal(channels_read(4, 1), [1 2 3 0]));
assert(isequal(channels_read(4, -1), [3 0 1 2]));
assert(isequal(channels_read(4, -1.9), [3 0 1 2]));
assert(isequal(channels_read(4, -5), [3 0 1 2]));
assert(isequal(channels_read(4, 7), [3 0 1 2]));
assert(isequal(channels_read(4, 4), [0 1 2 3]));

% Quarter turn with N = 2, and a row shift, over old content.
m = warp_map();
r = {-ones(3), -ones(3)};
Mundle(1, 2, {m, m + 100}, r, 3, 3, 0, 0, 1);
assert(isequal(r{2}, [20 10 0; 21 11 1; 22 12 2]));
assert(isequal(r{1}, [120 110 100; 121 111 101; 122 112 102]));
Mundle(1, 2, {m, m + 100}, r, 3, 3, 1, 0, 0);
assert(isequal(r{1}, [10 11 12; 20 21 22; 0 0 0]));
assert(isequal(r{2}, [110 111 112; 120 121 122; 0 0 0]));

% Half turn of a 4 x 4 stack: channels stay, first row and column are 0.
m4 = warp_map(4);
r = {zeros(4), zeros(4), zeros(4), zeros(4)};
Mundle(1, 4, {m4, m4, m4, m4 + 1}, r, 4, 4, 0, 0, 4);
half = [zeros(1, 4); zeros(3, 1), rot90(m4(2:4, 2:4), 2)];
assert(isequal(r{1}, half) && isequal(r{4}, half + [zeros(1, 4); zeros(3, 1), ones(3)]));

% Two images: column k of the grid is channel k.
s = {m, m + 200; m + 100, m + 300};
r = {zeros(3), zeros(3); zeros(3), zeros(3)};
Mundle(2, 2, s, r, 3, 3, [0 0], [0 0], [1 2]);
assert(isequal(r{1, 1}, [220 210 200; 221 211 201; 222 212 202]));
assert(isequal(r{2, 1}, [122 121 120; 112 111 110; 102 101 100]));

% The same cell array as sources and results.
c = {m, m + 200; m + 100, m + 300};
Mundle(2, 2, c, c, 3, 3, [0 0], [0 0], [1 2]);
assert(isequal(c, r));

% Wrong calls; N = 0 visits nothing.
a = {1, 2, {m, m}, {zeros(3), zeros(3)}, 3, 3, 0, 0, 1};
function b = changed(a, p, v)
  b = a;
  b{p} = v;
end
warp_expect_untouched('Mundle:nargin', @Mundle, a(1:8));
warp_expect_untouched('Mundle:negativeCount', @Mundle, changed(a, 2, -1));
warp_expect_untouched('Mundle:tooFewCells', @Mundle, changed(a, 2, 3));
warp_expect_untouched('Mundle:cellTooSmall', @Mundle, changed(a, 3, {m, zeros(3, 2)}));
warp_expect_untouched('Mundle:badValue', @Mundle, changed(a, 7, Inf));
r = {-ones(3)};
Mundle(1, 0, {}, r, 3, 3, 0, 0, 0);
assert(isequal(r{1}, -ones(3)));

disp('test_Mundle: all checks passed');
