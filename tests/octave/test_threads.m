% The thread setting in the real host: otk_threads reports and sets the
% count through OTK_NUM_THREADS, results do not depend on it, and every
% plug-in refuses an output argument before writing anything.

previous = otk_threads();
assert(previous >= 1);
assert(otk_threads(3) == previous);
assert(otk_threads() == 3 && strcmp(getenv('OTK_NUM_THREADS'), '3'));
setenv('OTK_NUM_THREADS', '2');
assert(otk_threads() == 2);
otk_threads(0);
assert(isempty(getenv('OTK_NUM_THREADS')) && otk_threads() == previous);
expect_error('otk_threads:badCount', @otk_threads, 1.5);
expect_error('otk_threads:badCount', @otk_threads, -1);

% A search large enough to run on helpers: the same bits for 1, 2 and 8.
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
for threads = [1 2 8]
  otk_threads(threads);
  out = {zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1), zeros(nImages, 1)};
  Wendlow(nImages, N, maps, {}, 0, n, n, 0, ori, x, y, w, b, {}, {}, 2, 1, 1, nElements, 0.9, ...
          out{1}, 0, 0, 0, 0, 0, out{2}, out{3}, out{4});
  results{end + 1} = typecast([out{:}](:), 'uint64');
end
otk_threads(0);
if ~isequal(results{1}, results{2}) || ~isequal(results{1}, results{3})
  error('test:threads', 'Wendlow results depend on the thread count (seed %d)', seed);
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
