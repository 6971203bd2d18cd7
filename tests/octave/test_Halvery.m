% Halvery in the real host: the worked call, accumulation, in-place results,
% and wrong calls that raise named errors and change nothing.

a = halvery_args();
Halvery(a{:});
assert(a{21} == 7);
assert(a{22} == 4);
expected = zeros(5);
expected(3:5, 2:4) = 2;
assert(isequal(a{15}{1}, expected));

% Scores accumulate; pooled values and render maps end as after one call.
Halvery(a{:});
assert(a{21} == 14);
assert(a{22} == 4);
assert(isequal(a{15}{1}, expected));

% Results land in the caller's arrays, including variables sharing them.
scores = zeros(1, 1);
alias = scores;
a = halvery_args();
a{21} = scores;
Halvery(a{:});
assert(scores == 7 && alias == 7);

% Two images, three elements: element-major pooled values.
maps = repmat({zeros(6)}, 2, 1);
maps{1}(2, 2) = 1; maps{2}(2, 2) = 2; maps{1}(3, 3) = 3; maps{2}(3, 3) = 4; maps{1}(4, 4) = 5;
pooled = zeros(2, 3);
scores = zeros(2, 1);
Halvery(2, 1, maps, {}, 0, 6, 6, 0, [0 0 0], [2 3 4], [2 3 4], [1 1 1], [0 0 0], {1}, ...
        {zeros(6), zeros(6)}, 0, 0, 1, 3, 10, scores, pooled, 0, 0, 0, 0);
assert(isequal(pooled, [1 3 5; 2 4 0]));
assert(isequal(scores, [9; 6]));

% Wrong calls: a named error, and every caller array bit-identical.
function check_untouched(id, a)
  before = {a{21} + 0, a{22} + 0, a{15}{1} + 0};
  expect_error(id, @Halvery, a{:});
  assert(isequal(before, {a{21}, a{22}, a{15}{1}}));
end

a = halvery_args(); check_untouched('Halvery:nargin', a(1:25));
a = halvery_args(); a{1} = 'x'; check_untouched('Halvery:notScalar', a);
a = halvery_args(); a{2} = NaN; check_untouched('Halvery:notFinite', a);
a = halvery_args(); a{3} = single(zeros(5)); check_untouched('Halvery:notCell', a);
a = halvery_args(); a{3} = zeros(5); check_untouched('Halvery:tooFewMaps', a);
a = halvery_args(); a{3} = {zeros(5)}; check_untouched('Halvery:tooFewCells', a);
a = halvery_args(); a{3}{2} = zeros(4); check_untouched('Halvery:cellTooSmall', a);
a = halvery_args(); a{3}{2} = single(zeros(5)); check_untouched('Halvery:badCell', a);
a = halvery_args(); a{9} = 2; check_untouched('Halvery:badOrientation', a);
a = halvery_args(); a{10} = int32(3); check_untouched('Halvery:notDouble', a);
a = halvery_args(); a{11} = Inf; check_untouched('Halvery:badValue', a);
a = halvery_args(); a{14} = {ones(3), ones(2)}; check_untouched('Halvery:cellTooSmall', a);
a = halvery_args(); a{15} = {zeros(5, 4)}; check_untouched('Halvery:cellTooSmall', a);
a = halvery_args(); a{16} = -1; check_untouched('Halvery:shiftRange', a);
a = halvery_args(); a{17} = 3; check_untouched('Halvery:oriRange', a);
a = halvery_args(); a{19} = 2; check_untouched('Halvery:tooShort', a);
a = halvery_args(); a{21} = 1 + 2i; check_untouched('Halvery:notDouble', a);
a = halvery_args(); a{22} = []; check_untouched('Halvery:tooShort', a);

% Positions nothing reads accept anything; extra inputs are ignored.
a = halvery_args();
a{4} = 'unused'; a{8} = {}; a{23} = struct(); a{26} = @sin; a{27} = 'extra';
Halvery(a{:});
assert(a{21} == 7);

disp('test_Halvery: all checks passed');
