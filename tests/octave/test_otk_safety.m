% What went silently wrong through the raw plug-ins either fails with a named
% error through the function layer or gives the right answer: transposed
% grids, maps of different sizes, vectors posing as maps, odd patches,
% inputs changed through shared storage, outputs sharing storage, unknown
% options, complex, sparse and NaN inputs.

maps = zeros(5, 5, 2);
maps(4, 3, 1) = 4;
tpl = otk_template(0, 3, 3, 2, 1);
grid = {maps(:, :, 1), maps(:, :, 2)};

% Two images at N = 4, the grid given transposed (4 x 2): N reads as 2, and
% the template's orientation 3 is out of range.
g = repmat({zeros(5)}, 2, 4);
expect_error('otk:badOrientation', @otk_score_template, g', otk_template(3, 3, 3));
% A 6 x 6 map among 5 x 5 ones, and a 25 x 1 vector posing as a 5 x 5 map.
expect_error('otk:badMapSize', @otk_score_template, {zeros(5), zeros(6)}, tpl);
expect_error('otk:badMapSize', @otk_score_template, {zeros(5), zeros(25, 1)}, tpl);
expect_error('otk:badMapSize', @otk_warp_stacks, {zeros(5); zeros(25, 1)}, 0, 0, 0);
% A later cell is measured by its rows and element count: a 5 x 3 x 2 one
% among 5 x 5 maps is still named as not a matrix.
expect_error('otk:badMapSize', @otk_score_template, {zeros(5), zeros(5, 3, 2)}, tpl);
% Patches: 5 x 5 among 3 x 3, even sides, the wrong count.
expect_error('otk:badPatches', @otk_score_template, maps, tpl, 'Patches', {ones(3), ones(5)});
expect_error('otk:badPatches', @otk_score_template, maps, tpl, 'Patches', ones(4, 4, 2));
expect_error('otk:badPatches', @otk_score_template, maps, tpl, 'Patches', {ones(3)});
% Counts, ranges, orientations.
expect_error('otk:negative', @otk_score_template, maps, tpl, 'ShiftRange', -1);
expect_error('otk:notInteger', @otk_score_template, maps, tpl, 'ShiftRange', 1.5);
expect_error('otk:notFinite', @otk_score_template, maps, tpl, 'OriRange', NaN);
expect_error('otk:notFinite', @otk_score_template, maps, tpl, 'Saturation', NaN);
expect_error('otk:outOfRange', @otk_score_template, maps, tpl, 'OriRange', 3);
expect_error('otk:notScalar', @otk_score_template, maps, tpl, 'ShiftStep', [1 2]);
expect_error('otk:badOrientation', @otk_search_transform, maps, otk_template(-1, 3, 3));
expect_error('otk:notInteger', @otk_score_template, maps, struct('orientation', 0, 'row', 3.5, ...
             'column', 3, 'weight', 1, 'bias', 0));
expect_error('otk:badTemplate', @otk_score_template, maps, struct('orientation', 0, 'row', 3));
expect_error('otk:badTemplate', @otk_score_template, maps, struct('orientation', [0 0], 'row', 3, ...
             'column', 3, 'weight', 1, 'bias', 0));
% Classes and shapes.
expect_error('otk:notReal', @otk_score_template, complex(maps), tpl);
expect_error('otk:sparse', @otk_warp_maps, sparse(zeros(5)), 0, 0, 0, 4);
expect_error('otk:notNumeric', @otk_score_template, {'text'}, tpl);
expect_error('otk:badSize', @otk_score_template, zeros(5, 5, 2, 1, 2), tpl);
expect_error('otk:badSize', @otk_warp_maps, {zeros(5), zeros(5); zeros(5), zeros(5)}, 0, 0, 0, 4);
expect_error('otk:badSize', @otk_warp_maps, zeros(5, 5, 2), [0 0 0], 0, 0, 4);
expect_error('otk:badSize', @otk_score_template, repmat({zeros(5)}, [1 2 2]), tpl);
% A cell never set (it reads as 0 x 0), and a 5 x 5 x 2 array posing as a map.
unset = cell(1, 2);
unset{1} = zeros(5);
expect_error('otk:badMapSize', @otk_score_template, unset, tpl);
expect_error('otk:badMapSize', @otk_score_template, {zeros(5), zeros(5, 5, 2)}, tpl);
expect_error('otk:badMapSize', @otk_saturate, {zeros(5), zeros(5, 5, 2)}, 1);
% Options.
expect_error('otk:unknownOption', @otk_score_template, maps, tpl, 'Shiftrang', 1);
expect_error('otk:badOption', @otk_score_template, maps, tpl, 3, 1);
expect_error('otk:badOption', @otk_response_density, maps, 'Bins');
expect_error('otk:nargin', @otk_score_template, maps);
% What a careless caller passes that was once taken silently: an input too
% many, an option name cut at a NUL, an empty value of another class where
% [] means the default, a sparse scalar, a histogram of 2^31-1 bins (17 GB).
move = struct('rowShift', 1, 'columnShift', 0, 'rotation', 4, 'orientations', 8, 'centre', [12 12]);
hostile = {'otk:nargin', @otk_warp_maps, {maps, 0, 0, 1, 2, 'Bogus'};
           'otk:nargin', @otk_warp_stacks, {maps, 0, 0, 1, 5};
           'otk:nargin', @otk_transform_template, {tpl, move, 5};
           'otk:nargin', @otk_transform_points, {4, 2, 2, 1, 1, 0, 0, 0, 1, 99};
           'otk:nargin', @otk_saturate, {maps, 1, 5};
           'otk:unknownOption', @otk_score_template, {maps, tpl, ['ShiftRange' char(0) 'junk'], 0};
           'otk:unknownOption', @otk_search_transform, {maps, tpl, ['OriRange' char(0)], 0};
           'otk:unknownOption', @otk_response_density, {maps, ['Bins' char([0 0])], 4};
           'otk:notNumeric', @otk_score_template, {maps, tpl, 'Patches', struct([])};
           'otk:notNumeric', @otk_score_template, {maps, tpl, 'Patches', ''};
           'otk:badPatches', @otk_score_template, {maps, tpl, 'Patches', {}};
           'otk:notNumeric', @otk_response_density, {maps, 'BinWidth', ''};
           'otk:notNumeric', @otk_response_density, {maps, 'BinWidth', {}};
           'otk:notScalar', @otk_response_density, {maps, 'BinWidth', int8([])};
           'otk:sparse', @otk_response_density, {maps, 'BinWidth', sparse([])};
           'otk:notScalar', @otk_threads, {struct([])};
           'otk:notScalar', @otk_threads, {'spin', struct([])};
           'otk:notScalar', @otk_transform_points, {sparse(4), 2, 2, 1, 1, 0, 0, 0, sparse(0)};
           'otk:notScalar', @otk_transform_points, {4, 2, 2, 1, 1, 0, 0, 0, sparse(0)};
           'otk:notScalar', @otk_threads, {sparse(2)};
           'otk:sparse', @otk_warp_maps, {maps, 0, 0, 1, sparse(2)};
           'otk:outOfRange', @otk_response_density, {magic(4), 'Bins', 2^31 - 1};
           'otk:outOfRange', @otk_response_density, {magic(4), 'Bins', 2^20 + 1}};
for k = 1:rows(hostile)
  [id, fn, a] = hostile{k, :};
  expect_error(id, fn, a{:});
end
assert(numel(otk_response_density(magic(4), 'Bins', 2^20)) == 2^20, 'the largest Bins');
% One output more than a function returns: otk:nargout, before any input
% is read (the inputs here are placeholders).
outputs = {@otk_score_template, 2, 3; @otk_search_transform, 2, 4; @otk_transform_template, 2, 1;
           @otk_warp_maps, 5, 1; @otk_warp_stacks, 4, 1; @otk_saturate, 1, 1; @otk_response_density, 1, 3;
           @otk_oriented_responses, 2, 1;
           @otk_score_map, 2, 4; @otk_learn_template, 2, 1};
for k = 1:rows(outputs)
  [fn, nIn, most] = outputs{k, :};
  args = num2cell(zeros(1, nIn));
  results = cell(1, most + 1);
  try
    [results{:}] = fn(args{:});
    error('test:noError', '%s with %d outputs: no error', func2str(fn), most + 1);
  catch err
    assert(strcmp(err.identifier, 'otk:nargout'), '%s with %d outputs: %s (%s)', func2str(fn), most + 1, ...
           err.identifier, err.message);
    assert(~isempty(strfind(err.message, sprintf('(%d requested)', most + 1))), err.message);
  end
end

% The right answer where the raw call gave another: the worked call scores
% 7 with pooled value 4, whichever layout.
[s, p] = otk_score_template(maps, tpl);
assert(s == 7 && p == 4);
[s, p] = otk_score_template(grid, tpl);
assert(s == 7 && p == 4);
[s, p] = otk_score_template(int8(maps), tpl);
assert(s == 7 && p == 4);

% Inputs are never changed, whatever shares their storage: cells, aliases,
% slices of a larger array.
m = rand(5, 5, 2, 3);
keep = m .* 1;
alias = m;
c = {m(:, :, 1, 1), m(:, :, 2, 1)};
c2 = c;
otk_saturate(m, 0.5);
otk_saturate(c, 0.5);
otk_response_density(m, 'Saturation', 0.5);
otk_response_density(c, 'Saturation', 0.5);
otk_warp_stacks(m, 1, 1, 4);
otk_warp_maps(c, 1, 1, 4, 16);
otk_score_template(m, tpl);
otk_search_transform(m, tpl);
otk_oriented_responses(m(:, :, :, 1), 2);
same = @(a, b) isequal(typecast(a(:), 'uint64'), typecast(b(:), 'uint64'));
assert(same(m, keep) && same(alias, keep), 'an input array changed');
assert(same(c{1}, keep(:, :, 1, 1)) && same(c2{2}, keep(:, :, 2, 1)), 'an input cell changed');

% Outputs are fresh: writing into one in place (through a raw plug-in)
% changes no other output and no input.
[s, p, r] = otk_score_template(repmat(maps, [1 1 1 2]), tpl);
rc = otk_score_template(grid, tpl);
[~, ~, rcell] = otk_score_template([grid; grid], tpl);
Fenwold(1, 1, {s}, 2, 1, 1);
assert(isequal(p, [4; 4]) && isequal(rc, 7), 'scores share storage with another output');
Fenwold(1, 1, rcell(1), 5, 5, 0.001);
assert(max(rcell{2}(:)) == 2 && max(rcell{1}(:)) < 0.01, 'render maps share storage');
w = otk_warp_stacks({ones(3), ones(3); ones(3), ones(3)}, 0, 0, 0);
Fenwold(1, 1, w(1), 3, 3, 1);
assert(w{1}(1) < 1 && all(cellfun(@(x) isequal(x, ones(3)), w(2:4))), 'warped maps share storage');
sat = otk_saturate({1, 1});
Fenwold(1, 1, sat(1), 1, 1, 0.001);
assert(sat{2} == otk_saturate(1), 'saturated maps share storage');

% Options: names in any case, the later of two pairs wins, values of any
% real numeric class; an odd count, a name that is not a text row and an
% unknown name are refused with the argument named, leaving no output and
% every input as it was. The worked call: -1 with no shift, 7 with one.
score = @(varargin) otk_score_template(maps, tpl, varargin{:});
assert(score('SHIFTRANGE', 0, 'shiftRange', 1) == 7 && score('ShiftRange', 1, 'shiftrange', 0) == -1);
assert(score('ShiftRange', int8(1), 'OriRange', true, 'ShiftStep', int16(1), 'Saturation', single(0.5)) == 0);
seed = 47;
rand('state', seed);
m = rand(6, 6, 4, 2) .^ 2;
t = otk_template([0 1 3], [2 4 5], [3 3 6], [1 -2 0.5], [0.1 0 0.3]);
outs = cell(2, 3);
[outs{1, :}] = otk_score_template(m, t, 'ShiftRange', int8(2), 'OriRange', true, 'ShiftStep', int8(-1), ...
                                  'Saturation', single(0.75));
[outs{2, :}] = otk_score_template(m, t, 'ShiftRange', 2, 'OriRange', 1, 'ShiftStep', -1, 'Saturation', 0.75);
assert(isequal(bits_of(outs(1, :)), bits_of(outs(2, :))), sprintf('integer and single options differ (seed %d)', seed));
[outs{1, :}] = otk_response_density(m, 'Bins', int8(5), 'BinWidth', single(0.25), 'Margin', true, ...
                                    'Saturation', uint8(2));
[outs{2, :}] = otk_response_density(m, 'Bins', 5, 'BinWidth', 0.25, 'Margin', 1, 'Saturation', 2);
assert(isequal(bits_of(outs(1, :)), bits_of(outs(2, :))), sprintf('density options differ (seed %d)', seed));
[outs{1, :}] = otk_response_density(m, 'Saturation', 2, 'Bins', 5, 'BinWidth', []);
[outs{2, :}] = otk_response_density(m, 'Saturation', 2, 'Bins', 5, 'BinWidth', 0.4);
assert(isequal(bits_of(outs(1, :)), bits_of(outs(2, :))), sprintf('BinWidth [] is not level/Bins (seed %d)', seed));

function message = refused(id, fn, a)
  [x, y, z] = deal('kept');
  try
    [x, y, z] = fn(a{:});
  catch
  end
  assert(isequal({x, y, z}, {'kept', 'kept', 'kept'}), sprintf('%s: an output was set', id));
  message = expect_untouched(id, fn, a);
end
has = @(message, text) ~isempty(strfind(message, text));
assert(has(refused('otk:badOption', @otk_score_template, {m, t, 'ShiftRange', 1, 'OriRange'}), 'argument 5'));
assert(has(refused('otk:badOption', @otk_response_density, {{m(:, :, 1)}, 'Bins', 4, 'Margin'}), 'argument 4'));
assert(has(refused('otk:badOption', @otk_score_template, {m, t, 2, 1}), 'argument 3'));
assert(has(refused('otk:badOption', @otk_score_template, {m, t, 'OriRange', 1, {'ShiftRange'}, 1}), 'argument 5'));
assert(has(refused('otk:badOption', @otk_response_density, {m, ['Saturation'; 'BinsMargin'], 1}), 'argument 2'));
message = refused('otk:unknownOption', @otk_response_density, {m, 'Bins', 4, 'Bogus', 1});
assert(has(message, '''Bogus''') && has(message, 'argument 4'));

% Large results come from the host's zeros: a function of that name on the
% path that makes another size must not decide where results are written.
shadow = tempname();
mkdir(shadow);
fid = fopen(fullfile(shadow, 'zeros.m'), 'w');
fprintf(fid, 'function z = zeros(varargin)\n  z = builtin(''zeros'', 2, 2);\nend\n');
fclose(fid);
big = rand(300, 300, 2);
responses = otk_oriented_responses(big, 1);
warning('off', 'Octave:shadowed-function');
addpath(shadow);
unwind_protect
  sat = otk_saturate(big, 0.5);
  warped = otk_warp_stacks(big, 1, 0, 0);
  shadowed = otk_oriented_responses(big, 1);
unwind_protect_cleanup
  rmpath(shadow);
  confirm_recursive_rmdir(false, 'local');
  rmdir(shadow, 's');
end_unwind_protect
assert(isequal(size(sat), [300 300 2]) && same(sat, 0.5 * (2 ./ (exp(-2 * big / 0.5) + 1) - 1)), ...
       'a shadowed zeros changed otk_saturate');
assert(isequal(size(warped), [300 300 2]) && same(warped(1:end - 1, :, :), big(2:end, :, :)), ...
       'a shadowed zeros changed otk_warp_stacks');
assert(same(shadowed, responses), 'a shadowed zeros changed otk_oriented_responses');

printf('test_otk_safety: every trap gives a named error or the right answer\n');
