% The allocation helpers in the real host: blocks are zero-filled, and a
% block beyond what the process may hold raises NAME:outOfMemory, naming what
% was asked for, before the host is asked (whose own report has no id).
% alloc_probe is a test-only plug-in over the helpers (tests/octave).

addpath(getenv('TOOLBOX_PROBE_DIR'));
assert(exist('alloc_probe') == 3, 'alloc_probe is not built (TOOLBOX_PROBE_DIR)');

% Blocks that fit come back zero-filled; tables have distinct rows.
assert(alloc_probe('doubles', 1000) == 0);
assert(alloc_probe('ints', 7) == 0);
assert(alloc_probe('zeroed', 3, 5) == 0);
assert(alloc_probe('table', 4, 3) == 0);
assert(alloc_probe('zeroed', 0, 8) == 0 && alloc_probe('table', 0, 9) == 0 && alloc_probe('table', 2, 0) == 0);

% A thousand blocks of 1 GB: a count that is small on its own must still be
% weighed with its element size (the shortcut for small requests once
% compared the count alone with its byte limit).
expect_error('alloc_probe:outOfMemory', @alloc_probe, 'require', 1000, 2^30);
% Beyond any machine, and counts whose byte size overflows.
expect_error('alloc_probe:outOfMemory', @alloc_probe, 'doubles', 2^60);
expect_error('alloc_probe:outOfMemory', @alloc_probe, 'ints', 2^62);
expect_error('alloc_probe:outOfMemory', @alloc_probe, 'zeroed', 2^40, 2^40);
expect_error('alloc_probe:outOfMemory', @alloc_probe, 'table', 2^20, 2^61);
try
  alloc_probe('require', 2^50, 8);
  error('test:noError', 'require passed 2^53 bytes');
catch err
  assert(strcmp(err.identifier, 'alloc_probe:outOfMemory'), err.message);
  assert(~isempty(strfind(err.message, 'the probe''s block')), err.message);
end

% The budget is the machine's physical memory: one byte more is refused,
% half of it is not (nothing is allocated by 'require').
[status, meminfo] = system('grep MemTotal /proc/meminfo');
if status == 0
  physical = 1024 * str2double(regexp(meminfo, '(\d+)', 'tokens', 'once'));
  alloc_probe('require', physical / 2, 1);
  expect_error('alloc_probe:outOfMemory', @alloc_probe, 'require', physical + 1, 1);
end

% Under an address-space limit the limit is the budget: a block above it,
% and a table whose rows fit one by one but not together, are refused with
% the id before any row is taken (the host's report would have none).
% Address-space limits do not mix with the address sanitizer's shadow
% memory, so this runs only in plain builds.
if isempty(getenv('LD_PRELOAD'))
  code = ['try, alloc_probe(''zeroed'', 2^32, 1); disp(''no error''); catch e, disp(e.identifier); end; ' ...
          'try, alloc_probe(''table'', 3, 2^28); disp(''no error''); catch e, disp(e.identifier); end'];
  [status, output] = child_octave(code, 'ulimit -v 3000000;');
  assert(status == 0, output);
  assert(numel(strfind(output, 'alloc_probe:outOfMemory')) == 2, output);
end
printf('test_alloc: blocks zero-filled, oversized blocks refused with alloc_probe:outOfMemory\n');
