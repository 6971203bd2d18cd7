% The thread settings in the real host: otk_threads reports and sets the
% count through OTK_NUM_THREADS and the helpers' spin time through
% OTK_SPIN_US, results depend on neither, and every plug-in refuses an
% output argument before writing anything.

previous = otk_threads();
assert(previous >= 1);
assert(otk_threads(3) == previous);
assert(otk_threads() == 3 && strcmp(getenv('OTK_NUM_THREADS'), '3'));
setenv('OTK_NUM_THREADS', '2');
assert(otk_threads() == 2);
otk_threads(0);
assert(isempty(getenv('OTK_NUM_THREADS')) && otk_threads() == previous);
expect_error('otk:badCount', @otk_threads, 1.5);
expect_error('otk:badCount', @otk_threads, -1);
% Only [] is the default: other empty values and sparse scalars are refused
% (a count set by them would have been the default, silently).
wrongCounts = {struct([]), {}, sparse(2), sparse([]), int8([])};
for k = 1:numel(wrongCounts)
  expect_error('otk:notScalar', @otk_threads, wrongCounts{k});
end
expect_error('otk:badSetting', @otk_threads, '');
assert(otk_threads() == previous);

previousSpin = otk_threads('spin');
assert(previousSpin >= 0);
assert(otk_threads('spin', 0) == previousSpin);
assert(otk_threads('spin') == 0 && strcmp(getenv('OTK_SPIN_US'), '0'));
assert(otk_threads('SPIN', 750) == 0 && otk_threads('spin') == 750);
setenv('OTK_SPIN_US', '20');
assert(otk_threads('spin') == 20);
setenv('OTK_SPIN_US', '1e3');
assert(otk_threads('spin') == otk_threads('spin', []), 'a value that is not a whole number is the default');
assert(isempty(getenv('OTK_SPIN_US')));
assert(otk_threads() == previous, 'the spin setting leaves the thread count alone');
% Each refusal names the argument it refuses, and sets nothing.
refusals = {{'otk:badSpin', 'spin (argument 2)', 'spin', -1}, ...
            {'otk:badSpin', 'spin (argument 2)', 'spin', 0.5}, ...
            {'otk:badSpin', 'spin (argument 2)', 'spin', 1000001}, ...
            {'otk:badSpin', 'spin (argument 2)', 'spin', NaN}, ...
            {'otk:notScalar', 'spin (argument 2)', 'spin', [1 2]}, ...
            {'otk:notScalar', 'spin (argument 2)', 'spin', struct([])}, ...
            {'otk:notScalar', 'spin (argument 2)', 'spin', ''}, ...
            {'otk:notScalar', 'spin (argument 2)', 'spin', sparse(5)}, ...
            {'otk:badSetting', 'setting (argument 1)', 'spinning', 10}, ...
            {'otk:badSetting', 'setting (argument 1)', ['spin' char(0)], 10}, ...
            {'otk:nargin', 'at most two inputs', 'spin', 10, 20}};
for k = 1:numel(refusals)
  r = refusals{k};
  try
    otk_threads(r{3:end});
    error('test:noError', 'otk_threads accepted refusal %d', k);
  catch err
    assert(strcmp(err.identifier, r{1}), sprintf('refusal %d: %s', k, err.identifier));
    assert(~isempty(strfind(err.message, r{2})), sprintf('refusal %d: %s', k, err.message));
  end
  assert(isempty(getenv('OTK_SPIN_US')), sprintf('refusal %d set the spin time', k));
end

% A search large enough to run on helpers: the same bits for 1, 2 and 8,
% with helpers that sleep at once and with helpers awake between calls
% (three calls back to back each).
seed = 20261209;
rand('state', seed); randn('state', seed);
nImages = 12; N = 8; n = 24; nElements = 40;
maps = cell(nImages, N);
for k = 1:numel(maps)
  maps{k} = rand(n) .^ 4;
end
ori = floor(rand(1, nElements) * N);
x = 5 + floor(rand(1, nElements) * (n - 9));
y = 5 + floor(rand(1, nElements) * (n - 9));
w = randn(1, nElements); b = rand(1, nElements) / 4;
results = {};
settings = [1 0; 2 0; 2 1000; 8 0; 8 100000];   % threads, spin
for s = 1:rows(settings)
  otk_threads(settings(s, 1));
  otk_threads('spin', settings(s, 2));
  for call = 1:3
    out = {zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1)};
    Wendlow(nImages, N, maps, {}, 0, n, n, 0, ori, x, y, w, b, {}, {}, 2, 1, 1, nElements, 0.9, ...
            out{1}, 0, 0, 0, 0, 0, out{2}, out{3}, out{4});
    results{end + 1} = typecast([out{:}](:), 'uint64');
  end
end
otk_threads(0);
otk_threads('spin', []);
for k = 2:numel(results)
  if ~isequal(results{1}, results{k})
    error('test:threads', 'Wendlow call %d of %d threads, spin %d us, differs from 1 thread (seed %d)', ...
          mod(k - 1, 3) + 1, settings(ceil(k / 3), 1), settings(ceil(k / 3), 2), seed);
  end
end

% An output argument is refused before anything is written.
m = {[0.5 -1]};
try
  out = Fenwold(1, 1, m, 1, 2, 1);
  error('test:noError', 'Fenwold returned an output');
catch err
  assert(strcmp(err.identifier, 'Fenwold:nargout'), err.identifier);
  assert(~isempty(strfind(err.message, 'otk_saturate')));
end
assert(isequal(m{1}, [0.5 -1]));
names = {'Halvery', 'Wendlow', 'Sabrel', 'Mundle', 'Fenwold', 'Porrith'};
for k = 1:numel(names)
  try
    out = feval(names{k});
  catch err
    assert(strcmp(err.identifier, [names{k} ':nargout']), err.identifier);
  end
end
