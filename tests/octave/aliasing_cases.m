function out = aliasing_cases(name, which)
% ALIASING_CASES  The calls of plug-in name in which one result is the same
%   array as one input it could alias. aliasing_cases(name) lists them (one
%   description each); aliasing_cases(name, which) runs cases which and
%   prints "PASS k" or "FAIL k <description>: <what differs>" for each, so
%   that a parent process can tell which case crashed its child.
%
%   Element values (orientation, row, column, weight, bias) and per-map
%   transforms are read before the first write, so such a call must leave
%   what the same call with unshared copies leaves, the result starting with
%   the shared array's values ('copies'). Maps keep the plain order of reads
%   and writes: those cases are compared with a plain reference ('plain').
  [make, results, copies, plain, reference] = setup(name);
  cases = {};
  for r = 1:numel(results)
    for i = 1:numel(copies)
      cases{end + 1} = {results{r}, copies{i}, 'copies'};
    end
    for i = 1:numel(plain)
      if ~isequal(plain{i}, results{r})
        cases{end + 1} = {results{r}, plain{i}, 'plain'};
      end
    end
  end
  if nargin < 2
    out = cellfun(@(c) describe(name, c), cases, 'UniformOutput', false);
    return;
  end
  fn = str2func(name);
  for k = which
    c = cases{k};
    try
      [R, I] = deal(c{1}, c{2});
      A = bit_copy(make());
      A = set_arg_at(A, R, arg_at(A, I));  % one array in two positions
      fn(A{:});
      if strcmp(c{3}, 'copies')
        B = bit_copy(make());
        B = set_arg_at(B, R, bit_copy(arg_at(B, I)));
        fn(B{:});
        E = set_arg_at(B, I, arg_at(B, R));
      else
        E = reference(bit_copy(make()), R, I);
      end
      differs = find(~cellfun(@(x, y) isequal(bits_of(x), bits_of(y)), A, E));
      if isempty(differs)
        printf('PASS %d\n', k);
      else
        printf('FAIL %d %s: argument %s differs\n', k, describe(name, c), mat2str(differs));
      end
    catch err
      printf('FAIL %d %s: %s %s\n', k, describe(name, c), err.identifier, err.message);
    end
    fflush(stdout);
  end
end

function s = describe(name, c)
  where = @(loc) sprintf('%s', mat2str(loc));
  s = sprintf('%s result %s shares input %s (%s)', name, where(c{1}), where(c{2}), c{3});
end

function [make, results, copies, plain, reference] = setup(name)
% Valid calls whose input arrays are large enough to serve as the results
% they are shared with; locations count positions from 1 as the user does.
  cells = @(p, n) arrayfun(@(k) [p k], 1:n, 'UniformOutput', false);
  reference = [];
  plain = {};
  switch name
    case 'Halvery'
      % 2 images, N = 2, 5 x 5 maps, patches 5 x 5, 3 elements; element
      % arrays of 25 entries (only 3 are read) so that each can be a map.
      make = @halvery_call;
      results = [{21, 22}, cells(15, 2)];
      copies = {9, 10, 11, 12, 13, 24, 25, 26};
      plain = [cells(3, 4), cells(14, 2)];
      reference = @halvery_shared_reference;
    case 'Wendlow'
      % Every read (elements and maps) comes before the selection writes.
      % Of the maps, those of the first and the last image and orientation.
      make = @wendlow_call;
      results = {21, 27, 28, 29};
      copies = {9, 10, 11, 12, 13, 22, 24, 25, 26, [3 1], [3 8]};
    case {'Sabrel', 'Mundle'}
      channels = 1 + strcmp(name, 'Mundle');
      make = @() warp_call(channels);
      results = cells(4, 2 * channels);
      copies = [cells(3, 2 * channels), {7, 8, 9}];
    case 'Fenwold'
      make = @() {2, 2, square_maps(4, 4), 4, 4, 1.5};
      results = cells(3, 4);
      copies = {};
      plain = cells(3, 4);
      reference = @fenwold_shared_reference;
    case 'Porrith'
      make = @() {2, 2, square_maps(4, 5), 1, 5, 5, 0.2, 6, [0.5 -0 NaN 2 1 0 9], 1.3};
      results = [{9}, cells(3, 4)];
      copies = {};
      plain = cells(3, 4);
      reference = @porrith_shared_reference;
  end
end

function maps = square_maps(n, side)
% n side x side maps with distinct values in -1..2, and a NaN in map 3.
  maps = cell(2, n / 2);
  for k = 1:n
    maps{k} = mod(reshape((1:side^2) * 0.173 * k, side, side), 3) - 1;
  end
  maps{3}(2, 2) = NaN;
end

function a = halvery_call()
  % Element 1 finds 1e6 at its own place (no cap), so the writes it makes
  % (scores near 2e6, pooled 1e6, a patch raised by 1e3 over rows 1-4 of
  % columns 1-3) are far outside anything an element may hold.
  maps = square_maps(4, 5);
  maps{1}(2, 1) = 1e6; maps{4}(2, 2) = 2;
  patches = {reshape(mod((1:25) * 0.31, 1.1), 5, 5), reshape(mod((1:25) * 0.47, 0.9), 5, 5)};
  ori = [0 1 1, mod(3:24, 2)];   % every entry a valid orientation for N = 2
  ex = [2 2 4, 1 + mod(3:24, 5)]; ey = [1 2 3, 1 + mod(4:25, 5)];
  w = [2 -1 0.5, 1:22]; b = [1 0.25 -3, 1:22];
  a = {2, 2, maps, cell(2, 2), 2, 5, 5, 0, ori, ex, ey, w, b, patches', {0.1 * ones(5); -0 * ones(5)}, ...
       1, 1, 1, 3, 1e9, [1.5 -0], [NaN 1 2 3 4 5], 0, 7 * ones(1, 25), -0 * ones(1, 25), NaN(1, 25)};
end

function a = wendlow_call()
  maps = [square_maps(4, 9), square_maps(4, 9)];
  maps{1}(3, 5) = 4;
  a = {2, 4, maps, cell(4, 4), 1, 9, 9, 0, [0 2 1 3], [6 3 5 4], [4 5 2 6], [1 2 -1 0.5], [0 0.5 1 -0], ...
       cell(4, 1), {zeros(9); zeros(9)}, 1, 1, 1, 3, 2, [-0 NaN], [1 2 3], 0, [4 5 6], [7 8], [9 10], ...
       [7 -0], [8 8.5], [9 NaN]};
end

function a = warp_call(channels)
% n = 2 images, N = 2, 3 x 4 maps; transform arrays of 12 entries (2 read).
  sources = cell(2, channels); results = cell(2, channels);
  for k = 1:2 * channels
    sources{k} = warp_map(3, 4, 100 * k);
    results{k} = -0 * ones(3, 4) + (k == 2) * NaN;
  end
  a = {2, 2, sources, results, 3, 4, [0 1 zeros(1, 10)], [1 -1 ones(1, 10)], [1 3 -ones(1, 10)]};
end

function e = fenwold_shared_reference(a, R, I)
% Every cell saturated in turn; a block held by two cells, twice.
  locs = arrayfun(@(k) [3 k], 1:a{1} * a{2}, 'UniformOutput', false);
  [mem, slot] = shared_slots(a, locs, R, I);
  for k = 1:numel(locs)
    mem{slot(k)} = sat_sigmoid(mem{slot(k)}, a{6});
  end
  e = args_from_slots(a, locs, mem, slot);
end
