% Wendlow in the real host: the worked examples, results in place, more than
% 72 candidates per image, and wrong calls that raise named errors and change
% nothing.

a = wendlow_args();
Wendlow(a{:});
assert(isequal(wendlow_results(a), [1 1 1 4]));
% Nothing accumulates across calls.
Wendlow(a{:});
assert(isequal(wendlow_results(a), [1 1 1 4]));

% Orientations are used modulo N: -1.7 truncates to -1, that is 3.
a = wendlow_args(); a{9} = -1.7; a{3}{1}(3, 5) = 0; a{3}{4}(3, 5) = 1;
Wendlow(a{:});
assert(isequal(wendlow_results(a), [1 1 1 4]));

% Every candidate scoring the same (no response, or no element): the first
% candidate, rotation 0 shifted by (-1, -1), wins.
a = wendlow_args(); a{3}{1}(3, 5) = 0;
Wendlow(a{:});
assert(isequal(wendlow_results(a), [0 -1 -1 0]));
a = wendlow_args(); a{19} = 0.9;
Wendlow(a{:});
assert(isequal(wendlow_results(a), [0 -1 -1 0]));

% Nothing above -1000 (a bias above 1000, or N = 0 and no candidate): the
% three parameter results keep the caller's values.
a = wendlow_args(); a{3}{1}(3, 5) = 0; a{13} = 1001;
Wendlow(a{:});
assert(isequal(wendlow_results(a), [-1000 7 8 9]));
a = wendlow_args(); a{2} = 0; a{3} = {};
Wendlow(a{:});
assert(isequal(wendlow_results(a), [-1000 7 8 9]));

% Weight 3, bias 1, saturation 2: the unshifted template scores 3*2 - 1; the
% unshifted half turn reaches the same score at (2, 4), the smaller rotation wins.
a = wendlow_args(); a{12} = 3; a{13} = 1; a{20} = 2; a{3}{1}(3, 5) = 0; a{3}{1}(2, 4) = 5;
Wendlow(a{:});
assert(isequal(wendlow_results(a), [5 0 0 4]));
a = wendlow_args(); a{12} = 3; a{13} = 1; a{20} = 2; a{3}{1}(3, 5) = 0; a{3}{1}(2, 4) = 5; a{3}{1}(6, 4) = 5;
Wendlow(a{:});
assert(isequal(wendlow_results(a), [5 0 0 0]));

% No image: nothing is written.
a = wendlow_args(); a{1} = 0; a{3} = {};
Wendlow(a{:});
assert(isequal(wendlow_results(a), [0 7 8 9]));

% N = 20: 90 candidates per image, rotation 36 found on the second image.
maps = repmat({zeros(41)}, 2, 20);
maps{2, 18}(34, 11) = 1;
best = zeros(2, 1); dx = zeros(2, 1); dy = zeros(2, 1); dori = zeros(2, 1);
Wendlow(2, 20, maps, {}, 0, 41, 41, 0, 1, 36, 21, 1, 0, {}, {}, 0, 0, 1, 1, 10, ...
        best, zeros(2, 1), 0, 0, 0, 0, dx, dy, dori);
assert(isequal([best dx dy dori], [0 -1 -1 0; 1 0 0 36]));

% Four copies of one image are scored on the threaded path (4 x 72 x 240
% poolings), the image alone on the serial one: every copy gets the lone
% image's results, bit for bit.
N = 16; m = 15; k = 240;
rand('state', 42);
one = cell(1, N);
for o = 1:N
  one{o} = rand(m);
end
ori = mod(0:k-1, N); x = 2 + mod(3 * (0:k-1), m - 2); y = 2 + mod(5 * (0:k-1), m - 2);
w = 1 + mod(0:k-1, 3) / 4; b = mod(0:k-1, 5) / 10;
r1 = {zeros(1, 1), zeros(1, 1), zeros(1, 1), zeros(1, 1)};
Wendlow(1, N, one, {}, 0, m, m, 0, ori, x, y, w, b, {}, {}, 1, 1, 1, k, 0.8, ...
        r1{1}, 0, 0, 0, 0, 0, r1{2}, r1{3}, r1{4});
r4 = {zeros(4, 1), zeros(4, 1), zeros(4, 1), zeros(4, 1)};
Wendlow(4, N, repmat(one, 4, 1), {}, 0, m, m, 0, ori, x, y, w, b, {}, {}, 1, 1, 1, k, 0.8, ...
        r4{1}, 0, 0, 0, 0, 0, r4{2}, r4{3}, r4{4});
assert(r1{1} > 0 && ~isequal([r1{2:4}], [-1 -1 0]));  % not a tie of every candidate
assert(isequal([r4{:}], repmat([r1{:}], 4, 1)));

% Wrong calls: a named error, and every result bit-identical.
function check_untouched(id, a)
  before = wendlow_results(a);
  expect_error(id, @Wendlow, a{:});
  assert(isequal(before, wendlow_results(a)));
end

a = wendlow_args(); expect_error('Wendlow:nargin', @Wendlow, a{1:28});
assert(isequal(wendlow_results(a), [0 7 8 9]));
a = wendlow_args(); a{1} = 'x'; check_untouched('Wendlow:notScalar', a);
a = wendlow_args(); a{2} = -1; check_untouched('Wendlow:negativeCount', a);
a = wendlow_args(); a{3} = zeros(9) > 0; check_untouched('Wendlow:notCell', a);
a = wendlow_args(); a{3} = zeros(9); check_untouched('Wendlow:tooFewMaps', a);
a = wendlow_args(); a{3} = {zeros(9)}; check_untouched('Wendlow:tooFewCells', a);
a = wendlow_args(); a{3}{4} = zeros(8); check_untouched('Wendlow:cellTooSmall', a);
a = wendlow_args(); a{9} = int32(0); check_untouched('Wendlow:notDouble', a);
a = wendlow_args(); a{10} = Inf; check_untouched('Wendlow:badValue', a);
a = wendlow_args(); a{12} = []; check_untouched('Wendlow:tooShort', a);
a = wendlow_args(); a{16} = -1; check_untouched('Wendlow:shiftRange', a);
a = wendlow_args(); a{17} = 5; check_untouched('Wendlow:oriRange', a);
a = wendlow_args(); a{21} = single(0); check_untouched('Wendlow:notDouble', a);
a = wendlow_args(); a{27} = []; check_untouched('Wendlow:tooShort', a);
a = wendlow_args(); a{28} = {0}; check_untouched('Wendlow:notDouble', a);
a = wendlow_args(); a{29} = 1i; check_untouched('Wendlow:notDouble', a);

% Positions nothing reads accept anything; extra inputs are ignored.
a = wendlow_args();
a{4} = 'unused'; a{5} = {}; a{8} = 'x'; a{14} = struct(); a{15} = @sin; a{22} = {};
a{23} = 'y'; a{24} = {}; a{25} = []; a{26} = int8(1); a{30} = 'extra';
Wendlow(a{:});
assert(isequal(wendlow_results(a), [1 1 1 4]));

disp('test_Wendlow: all checks passed');
