% Every result array of every plug-in one element too short raises the
% plug-in's tooShort (data arrays) or cellTooSmall (maps in cells) error,
% naming the argument by the position the user counts, and every array of
% the call, results included, is bit-identical afterwards. The results start
% with values a write would change (-0, NaN, odd numbers).

1;  % a script, not a function file

function a = shorten(a, p, cell_index)
% Argument p, or cell cell_index of it, one element shorter (columns stay).
  if nargin < 3
    a{p} = a{p}(1:end - 1);
  else
    a{p}{cell_index} = a{p}{cell_index}(1:end - 1);
  end
end

function check(name, a, p, varargin)
  if isempty(varargin)
    id = [name ':tooShort'];
  else
    id = [name ':cellTooSmall'];
  end
  message = expect_untouched(id, str2func(name), shorten(a, p, varargin{:}));
  assert(~isempty(strfind(message, sprintf('(argument %d)', p))), message);
end

function valid_call(name, make)
% The full-size call is valid and writes: the checks below fail only by size.
  a = make();
  feval(name, a{:});
  assert(~isequal(bits_of(a), bits_of(make())), [name ': the valid call wrote nothing']);
end

function h = two_image_halvery()
  h = halvery_args();
  h{1} = 2; h{3} = [h{3}; h{3}]; h{15} = {-0 * ones(5); NaN(5)};
  h{9} = [0 1]; h{10} = [3 2]; h{11} = [3 4]; h{12} = [2 1]; h{13} = [1 0.5]; h{19} = 2;
  h{21} = [-0; 3.5]; h{22} = [NaN 1 -0 7];
end

function w = two_image_wendlow()
  w = wendlow_args();
  w{1} = 2; w{3} = [w{3}; w{3}]; w{15} = {zeros(9); zeros(9)};
  w{21} = [-0; NaN]; w{27} = [7; -0]; w{28} = [8; 8.5]; w{29} = [9; NaN];
end

% Halvery: two images, two elements; scores (21), pooled values (22, one
% per image and element) and render maps (15).
valid_call('Halvery', @two_image_halvery);
h = two_image_halvery();
check('Halvery', h, 21);
check('Halvery', h, 22);
check('Halvery', h, 15, 1);
check('Halvery', h, 15, 2);

% Wendlow: two images; best scores (21) and best shifts and rotations
% (27, 28, 29).
valid_call('Wendlow', @two_image_wendlow);
w = two_image_wendlow();
for p = [21 27 28 29]
  check('Wendlow', w, p);
end

% Sabrel and Mundle: every result map (4), and the source maps (3) they read.
warps = {'Sabrel', @() {2, 2, {warp_map(3, 4); warp_map(3, 4, 100)}, {-0 * ones(3, 4); NaN(3, 4)}, ...
                        3, 4, [0 1], [1 0], [1 -1]};
         'Mundle', @() {2, 2, {warp_map(3, 4), warp_map(3, 4, 50); warp_map(3, 4, 100), warp_map(3, 4, 150)}, ...
                        {-0 * ones(3, 4), NaN(3, 4); 3 * ones(3, 4), 5 * ones(3, 4)}, 3, 4, [0 1], [1 0], [1 -1]}};
for n = 1:rows(warps)
  [name, make] = warps{n, :};
  valid_call(name, make);
  a = make();
  for k = 1:numel(a{4})
    check(name, a, 4, k);
    check(name, a, 3, k);
  end
end

% Fenwold: every map of a 2 x 2 grid (they are the results).
make = @() {2, 2, {[1 2; 3 4], -0 * ones(2); NaN(2), 5 * ones(2)}, 2, 2, 1};
valid_call('Fenwold', make);
f = make();
for k = 1:4
  check('Fenwold', f, 3, k);
end

% Porrith: the histogram (9), and every map of a 2 x 2 grid (3).
make = @() {2, 2, {0.5 * ones(4), -0 * ones(4); 7 * ones(4), NaN(4)}, 1, 4, 4, 0.25, 4, [-0 NaN 1 3], 1};
valid_call('Porrith', make);
p = make();
check('Porrith', p, 9);
for k = 1:4
  check('Porrith', p, 3, k);
end
printf('test_short_results: every result one element short raises and changes nothing\n');
