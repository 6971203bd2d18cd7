% The Octave package route: pkg install of the archive into a temporary
% prefix (with its own package lists, so nothing outside it changes), pkg
% load, every shipped function compiled or on the path, documented and
% callable, Halvery's worked call, the index and the demo; Octave's own
% tools on the installed package: pkg test (real tests, all passing, its log
% not left in the current folder), test NAME, demo NAME, help orientkit,
% news orientkit, lookfor; then pkg unload and pkg uninstall leave nothing
% behind.

archive = getenv('TOOLBOX_PACKAGE_ARCHIVE');
root = getenv('TOOLBOX_SOURCE_DIR');
names = strsplit(getenv('TOOLBOX_PLUGINS'), ',');
layer = strsplit(getenv('TOOLBOX_LAYER'), ',');
layer = layer(~cellfun(@isempty, layer));
version = getenv('TOOLBOX_VERSION');
assert(~isempty(root) && ~isempty(names{1}) && ~isempty(version), 'run this through ctest');
assert(exist(archive, 'file') == 2, ['no archive ' archive ': build the target octave_package']);

function assert_under(file, folder, what)
  assert(strncmp(file, [folder filesep], numel(folder) + 1), sprintf('%s is %s, outside %s', what, file, folder));
end

work = tempname();
mkdir(work);
confirm_recursive_rmdir(false);
unwind_protect
  pkg('prefix', fullfile(work, 'share'), fullfile(work, 'lib'));
  pkg('local_list', fullfile(work, 'local_list'));
  pkg('global_list', fullfile(work, 'global_list'));
  pkg('install', '-local', archive);

  installed = pkg('list');
  assert(numel(installed) == 1 && strcmp(installed{1}.name, 'orientkit'), 'orientkit not installed');
  installed = installed{1};
  assert_under(installed.dir, work, 'the package folder');

  % The index lists exactly the shipped functions.
  description = pkg('describe', 'orientkit');
  listed = {};
  for c = 1:numel(description{1}.provides)
    listed = [listed, description{1}.provides{c}.functions];
  end
  demoFiles = dir(fullfile(root, 'demo', '*.m'));
  demoNames = cellfun(@(f) f(1:end - 2), {demoFiles.name}, 'UniformOutput', false);
  assert(isempty(setxor(listed, [names, layer, demoNames])), ['INDEX lists: ' strjoin(listed, ' ')]);
  assert(strcmp(installed.version, version), ['installed version ' installed.version]);

  pkg('load', 'orientkit');
  compiledDir = fileparts(which(names{1}));
  for k = 1:numel(names)
    name = names{k};
    assert(exist(name) == 3, [name ': not a compiled function after pkg load']);
    assert_under(which(name), work, name);
    if exist(fullfile(root, name, [name '.m']), 'file') == 2
      % The help file must sit beside the plug-in: elsewhere it either
      % shadows the plug-in or is not found by help.
      assert(exist(fullfile(fileparts(which(name)), [name '.m']), 'file') == 2, [name ': help not beside the plug-in']);
      assert(~isempty(strfind(help(name), upper(name))), [name ': no help after pkg load']);
    end
    expect_error([name ':nargin'], str2func(name));
  end

  % The function layer: plain functions, or compiled ones with their help
  % beside them; each documented, and Contents.m behind help orientkit.
  for k = 1:numel(layer)
    name = layer{k};
    kind = exist(name);
    assert(kind == 2 || kind == 3, [name ': not on the path after pkg load']);
    assert_under(which(name), work, name);
    assert(~isempty(strfind(help(name), upper(name))), [name ': no help after pkg load']);
  end
  if ~isempty(layer)
    assert(strcmp(otk_version(), version), 'otk_version and the package version differ');
    listing = evalc('help orientkit');
    for k = 1:numel(layer)
      assert(~isempty(strfind(listing, layer{k})), ['help orientkit does not list ' layer{k}]);
    end
    assert(~isempty(strfind(evalc('news orientkit'), version)), 'news orientkit does not show this version');
    found = evalc('lookfor histogram');
    assert(~isempty(strfind(found, 'otk_response_density')), 'lookfor histogram misses otk_response_density');
    evalc('demo(''otk_saturate'')');
  end
  [passes, tests] = test('Halvery');
  assert(tests > 0 && passes == tests, sprintf('test Halvery: %d of %d pass', passes, tests));

  % pkg test from a scratch folder: its log goes there, not into the
  % folder the caller is in.
  here = pwd;
  scratch = fullfile(work, 'scratch');
  mkdir(scratch);
  cd(scratch);
  try
    report = evalc('pkg(''test'', ''orientkit'')');
  catch failure
    cd(here);
    rethrow(failure);
  end
  cd(here);
  assert(exist(fullfile(scratch, 'fntests.log'), 'file') == 2, 'pkg test wrote no log');
  passed = str2double(regexp(report, 'PASS\s+(\d+)', 'tokens', 'once'));
  failed = str2double(regexp(report, 'FAIL\s+(\d+)', 'tokens', 'once'));
  assert(passed >= 50 && failed == 0, sprintf('pkg test orientkit: %d pass, %d fail\n%s', passed, failed, report));

  if any(strcmp(names, 'Halvery'))
    a = halvery_args();
    Halvery(a{:});
    assert(a{21} == 7 && a{22} == 4, 'Halvery worked call: wrong score or pooled value');
    expected = zeros(5);
    expected(3:5, 2:4) = 2;
    assert(isequal(a{15}{1}, expected), 'Halvery worked call: wrong render map');
  end

  % The demo and its data ship with the package, and pkg load puts the demo
  % on the path.
  demo = dir(fullfile(root, 'demo', '*.m'));
  for k = 1:numel(demo)
    [~, stem] = fileparts(demo(k).name);
    assert(exist(stem) == 2, [stem ': demo file not on the path']);
    assert_under(which(stem), installed.dir, stem);
  end
  if ~isempty(demo)
    data = dir(fullfile(root, 'data'));
    data = data(~[data.isdir]);
    for k = 1:numel(data)
      assert(exist(fullfile(installed.dir, 'data', data(k).name), 'file') == 2, [data(k).name ': data not shipped']);
    end
  end

  pkg('unload', 'orientkit');
  for k = 1:numel(names)
    assert(exist(names{k}) == 0, [names{k} ': still callable after pkg unload']);
  end
  for k = 1:numel(layer)
    assert(exist(layer{k}) == 0, [layer{k} ': still on the path after pkg unload']);
  end
  for k = 1:numel(demo)
    [~, stem] = fileparts(demo(k).name);
    assert(exist(stem) == 0, [stem ': still on the path after pkg unload']);
  end

  pkg('uninstall', '-local', 'orientkit');
  assert(isempty(pkg('list')), 'still listed after pkg uninstall');
  assert(~exist(installed.dir, 'dir') && ~exist(compiledDir, 'dir'), 'folders left after pkg uninstall');
unwind_protect_cleanup
  rmdir(work, 's');
end_unwind_protect

printf('check_package_install: %d plug-ins and %d layer functions installed, loaded, tested (%d tests in pkg test)\n', ...
       numel(names), numel(layer), passed);
