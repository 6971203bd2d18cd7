% The Octave package route: pkg install of the archive into a temporary
% prefix (with its own package lists, so nothing outside it changes), pkg
% load, every shipped function compiled, documented and callable, Halvery's
% worked call, the index and the demo; then pkg unload and pkg uninstall
% leave nothing behind.

archive = getenv('TOOLBOX_PACKAGE_ARCHIVE');
root = getenv('TOOLBOX_SOURCE_DIR');
names = strsplit(getenv('TOOLBOX_PLUGINS'), ',');
assert(~isempty(root) && ~isempty(names{1}), 'run this through ctest');
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
  assert(isempty(setxor(listed, names)), ['INDEX lists: ' strjoin(listed, ' ')]);

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

printf('check_package_install: %d functions installed, loaded and called\n', numel(names));
