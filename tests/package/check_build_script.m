% The user build script in Octave: wrong folders are named errors; it
% compiles every plug-in whose source is present into the folder given, with
% the project's flags in place of the caller's, prints one line per plug-in,
% puts each help file beside its plug-in, leaves no objects behind and gives
% the caller's environment back. The Octave test files then run against
% these plug-ins (tests package_build_script_test_*). The compiled helpers of
% the otk_ layer are built the same way, and the layer's functions with
% their private folder are copied beside them.

root = getenv('TOOLBOX_SOURCE_DIR');
outdir = getenv('TOOLBOX_MEX_DIR');
names = strsplit(getenv('TOOLBOX_PLUGINS'), ',');
assert(~isempty(root) && ~isempty(outdir) && ~isempty(names{1}), 'run this through ctest');
helpDirs = cellfun(@(n) fullfile(root, n), names, 'UniformOutput', false);
kernels = numel(names);
layerSources = dir(fullfile(root, 'otk', '*.cpp'));
for k = 1:numel(layerSources)
  names{end + 1} = layerSources(k).name(1:end - 4);
  helpDirs{end + 1} = fullfile(root, 'otk');
end
addpath(root);

% A fresh folder, so that nothing from an earlier run can pass for a build.
confirm_recursive_rmdir(false);
if exist(outdir, 'dir')
  rmdir(outdir, 's');
end

expect_error('build_plugins:badFolder', @build_plugins, 42);
expect_error('build_plugins:badFolder', @build_plugins, '');
blocker = tempname();
fclose(fopen(blocker, 'w'));
expect_error('build_plugins:badFolder', @build_plugins, fullfile(blocker, 'sub'));
delete(blocker);

% Flags the compiler rejects: they must not reach it, and must be there
% again afterwards.
setenv('CXXFLAGS', '-fno-such-compiler-flag');
try
  output = evalc('built = build_plugins(outdir);');
catch err
  error('build_plugins failed (run it by hand to see the compiler output): %s', err.message);
end
assert(strcmp(getenv('CXXFLAGS'), '-fno-such-compiler-flag'), 'CXXFLAGS not restored');
unsetenv('CXXFLAGS');

assert(iscell(built) && numel(built) == numel(names), 'one file per plug-in source');
lines = regexp(output, '[^\n]+', 'match');
lines = lines(strncmp(lines, 'build_plugins:', 14));
% First the array API: Octave 7 has the interleaved one, which MATLAB
% recommends, and the plug-ins must then read arrays through mxGetDoubles.
assert(numel(lines) >= 1 && ~isempty(strfind(lines{1}, 'array API -R2018a')), ...
       ['the first line does not name the interleaved API: ' output]);
lines = lines(2:end);
assert(numel(lines) == numel(names), sprintf('%d progress lines for %d plug-ins', numel(lines), numel(names)));

addpath(outdir);
expectedFiles = {};
for k = 1:numel(names)
  name = names{k};
  target = fullfile(outdir, [name '.mex']);
  assert(strcmp(built{k}, target), [name ': built ' built{k}]);
  assert(isfile(target), [name ': no ' target]);
  [status, symbols] = system(['nm -D --undefined-only ' target]);
  assert(status == 0 && ~isempty(regexp(symbols, '\<mxGetDoubles\>', 'once')) && ...
         isempty(regexp(symbols, '\<mxGetPr\>', 'once')), [name ': not built for the interleaved API']);
  assert(~isempty(strfind(lines{k}, [' ' name ' '])) && ~isempty(strfind(lines{k}, target)), ...
         [name ': progress line is ' lines{k}]);
  assert(exist(name) == 3 && strcmp(which(name), target), [name ': not the plug-in just built']);
  expectedFiles{end + 1} = [name '.mex'];
  helpFile = fullfile(helpDirs{k}, [name '.m']);
  if exist(helpFile, 'file') == 2
    copy = fullfile(outdir, [name '.m']);
    assert(exist(copy, 'file') == 2 && strcmp(fileread(copy), fileread(helpFile)), [name ': help not copied']);
    assert(~isempty(strfind(help(name), upper(name))), [name ': help does not reach the plug-in']);
    expectedFiles{end + 1} = [name '.m'];
  end
  % Loaded and callable: too few inputs is the kernel's own error.
  if k <= kernels
    expect_error([name ':nargin'], str2func(name));
  end
end

layerFiles = dir(fullfile(root, 'otk', '*.m'));
for k = 1:numel(layerFiles)
  copy = fullfile(outdir, layerFiles(k).name);
  assert(strcmp(fileread(copy), fileread(fullfile(root, 'otk', layerFiles(k).name))), [copy ': not copied']);
end
expectedFiles = unique([expectedFiles, {layerFiles.name}]);
privateFiles = dir(fullfile(root, 'otk', 'private', '*.m'));
copied = dir(fullfile(outdir, 'private', '*.m'));
assert(isempty(setxor({privateFiles.name}, {copied.name})), 'otk/private not copied');
[s, p] = otk_score_template(cat(3, [0 0 0; 0 0 0; 0 4 0], zeros(3)), otk_template(0, 2, 2, 2, 1));
assert(s == 7 && p == 4, 'the layer does not run on the plug-ins just built');

listing = dir(outdir);
present = {listing(~[listing.isdir]).name};
assert(isempty(setxor(present, expectedFiles)), ['unexpected files: ' strjoin(setdiff(present, expectedFiles), ' ')]);

printf('check_build_script: %d plug-ins built and loaded\n', numel(names));
