% Octave's own tools on the toolbox: every otk_ function and every plug-in
% has help and tests that test NAME finds and passes, the layer's functions
% have demos, lookfor finds them by plain words, and Contents.m lists them.

root = getenv('TOOLBOX_SOURCE_DIR');
if isempty(root)
  root = pwd;
end
layer = dir(fullfile(root, 'otk', 'otk_*.m'));
layer = cellfun(@(f) f(1:end - 2), {layer.name}, 'UniformOutput', false);
plugins = {'Halvery', 'Wendlow', 'Sabrel', 'Mundle', 'Fenwold', 'Porrith'};
contents = fileread(fullfile(root, 'otk', 'Contents.m'));
names = [layer, plugins(cellfun(@(n) exist(n) == 3, plugins))];
for k = 1:numel(names)
  name = names{k};
  text = help(name);
  assert(~isempty(strfind(text, upper(name))), [name ': no help']);
  [passes, tests] = test(name, 'quiet');
  assert(passes == tests && (tests > 0 || strcmp(name, 'otk_threads')), ...
         sprintf('test %s: %d of %d pass', name, passes, tests));
  if strncmp(name, 'otk_', 4) && ~strcmp(name, 'otk_threads')
    assert(~isempty(regexp(contents, ['\n%\s+' name '\s+- '], 'once')), [name ': not in Contents.m']);
  end
end
for k = 1:numel(layer)
  if ~any(strcmp(layer{k}, {'otk_version', 'otk_template', 'otk_transform_points', 'otk_transform_template', 'otk_threads'}))
    assert(~isempty(test(layer{k}, 'grabdemo')), [layer{k} ': no demo']);
  end
end

% lookfor searches the first help line: plain words find the functions.
words = {'warp', {'otk_warp_maps', 'otk_warp_stacks'}; 'rotate', {'otk_warp_maps', 'otk_transform_template'}; ...
         'saturate', {'otk_saturate'}; 'histogram', {'otk_response_density'}; ...
         'template', {'otk_score_template', 'otk_template', 'otk_transform_template'}; ...
         'search', {'otk_search_transform'}; 'detect', {'otk_score_map'}; 'learn', {'otk_learn_template'}; ...
         'placement', {'otk_score_map'}};
for k = 1:size(words, 1)
  found = evalc(['lookfor ' words{k, 1}]);
  for f = words{k, 2}
    assert(~isempty(regexp(found, ['\<' f{1} '\>'], 'once')), sprintf('lookfor %s misses %s', words{k, 1}, f{1}));
  end
end
% The README's quick start runs as written and prints what it promises.
readme = fileread(fullfile(root, 'README.md'));
block = regexp(readme, '## Quick start\n.*?\n\n((?:    [^\n]*\n)+)', 'tokens', 'once');
assert(~isempty(block), 'README: no quick start block');
code = regexprep(block{1}, '(^|\n)    ', '$1');
code = regexprep(code, 'addpath\([^)]*\);', '');
assert(numel(strsplit(strtrim(code), '\n')) <= 5, 'the quick start is longer than five lines');
printed = evalc(code);
assert(~isempty(strfind(printed, 'scores = 7')) && ~isempty(strfind(printed, 'pooled = 4')), ['README quick start printed: ' printed]);

printf('test_otk_doc: %d functions with help and passing tests; lookfor finds them\n', numel(names));
