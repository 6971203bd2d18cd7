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
         'search', {'otk_search_transform'}; 'gabor', {'otk_oriented_responses'}; ...
         'images', {'otk_oriented_responses'}; ...
         'detect', {'otk_score_map'}; 'learn', {'otk_learn_template'}; ...
         'placement', {'otk_score_map'}};
for k = 1:size(words, 1)
  found = evalc(['lookfor ' words{k, 1}]);
  for f = words{k, 2}
    assert(~isempty(regexp(found, ['\<' f{1} '\>'], 'once')), sprintf('lookfor %s misses %s', words{k, 1}, f{1}));
  end
end
% The documentation runs as written: every fenced block tagged octave in
% README.md and docs/*.md, page by page, the blocks of a page in order in one
% workspace of their own, in a scratch folder. A bare expression followed by
% a comment that is a number or a numeric matrix ("scores   % 7") must equal
% it to the digits written. Blocks tagged sh, matlab or text are not run;
% "octave norun" marks the few Octave blocks that cannot run here (at most
% three); a block that loads the parallel package runs where the package is
% installed and no sanitizer runtime is preloaded (its exit handler reads
% freed memory). Every code block must be fenced and tagged, so that none
% escapes this test, and every link to a file must find it.
function doc_run_page(doc_page__, doc_blocks__)
  for doc_k__ = 1:numel(doc_blocks__)
    try
      evalc(doc_blocks__{doc_k__}{2});
    catch doc_err__
      error('%s, the example at line %d fails: %s', doc_page__, doc_blocks__{doc_k__}{1}, doc_err__.message);
    end
  end
end

% The code of an octave block, with a check after each line of the form
% "expression   % value".
function code = doc_checked(page, block)
  code = '';
  for line = strsplit(block, "\n")
    l = line{1};
    code = [code l "\n"];
    t = regexp(l, '^\s*([^=%;]+?)\s*%\s*(-?[0-9.]+|\[[-0-9.,; ]+\])\s*(,.*)?$', 'tokens', 'once');
    if ~isempty(t)
      digits = regexp(t{2}, '\.([0-9]+)', 'tokens');
      places = max([0, cellfun(@(d) numel(d{1}), digits)]);
      tol = 0.5 * 10^-places * (places > 0);
      code = [code sprintf(['assert(isequal(size(%s), size(%s)) && all(abs(%s(:) - reshape(%s, [], 1)) <= %g), ' ...
                            '''%s: %s is not %s'');\n'], t{1}, t{2}, t{1}, t{2}, tol, page, ...
                           strrep(t{1}, '''', ''''''), t{2})];
    end
  end
end

pages = dir(fullfile(root, 'docs', '*.md'));
pages = [{fullfile(root, 'README.md')}, cellfun(@(f) fullfile(root, 'docs', f), sort({pages.name}), 'UniformOutput', false)];
asan = ~isempty(strfind(getenv('LD_PRELOAD'), 'asan'));
parallel = ~asan && ~isempty(pkg('list', 'parallel'));
norun = {};
ran = 0;
here = pwd;
scratch = tempname();
mkdir(scratch);
unwind_protect
  for k = 1:numel(pages)
    [~, name, ext] = fileparts(pages{k});
    page = [name ext];
    text = fileread(pages{k});
    prose = regexprep(text, '^```.*?^```', '', 'lineanchors');
    assert(isempty(regexp(prose, '\n\n(    |\t)[^ \-*|\n]', 'once')), [page ': an indented code block; fence it and tag it']);
    % Links to files resolve from the page's folder.
    for l = regexp(prose, '\]\(([^)#:]+)(#[^)]*)?\)', 'tokens')
      assert(exist(fullfile(fileparts(pages{k}), l{1}{1}), 'file') ~= 0, sprintf('%s: a link to %s, which is not there', page, l{1}{1}));
    end
    [blocks, starts] = regexp(text, '^```([^\n]*)\n(.*?)^```[ \t]*$', 'tokens', 'start', 'lineanchors');
    code = {};
    for b = 1:numel(blocks)
      tag = strsplit(strtrim(blocks{b}{1}));
      assert(any(strcmp(tag{1}, {'octave', 'sh', 'matlab', 'text'})), ...
             sprintf('%s: a code block tagged "%s" (octave, sh, matlab or text)', page, blocks{b}{1}));
      if ~strcmp(tag{1}, 'octave')
        continue;
      elseif numel(tag) > 1
        assert(isequal(tag(2:end), {'norun'}), sprintf('%s: unknown tag "%s"', page, blocks{b}{1}));
        norun{end + 1} = page;
        continue;
      elseif ~parallel && ~isempty(regexp(blocks{b}{2}, 'pkg load parallel', 'once'))
        printf('test_otk_doc: %s: a parcellfun example SKIPPED (no parallel package, or a sanitizer runtime preloaded)\n', page);
        continue;
      end
      % The path to the toolbox is the test's to set: build/mex may be another build.
      code{end + 1} = {1 + sum(text(1:starts(b)) == "\n"), ...
                       regexprep(doc_checked(page, blocks{b}{2}), 'addpath\(''build/mex''\);', '')};
      ran = ran + 1;
    end
    cd(scratch);
    doc_run_page(page, code);
    cd(here);
    if strcmp(page, 'README.md')
      % The quick start prints what it promises.
      quick = regexp(text, '## Quick start\n.*?```octave\n(.*?)```', 'tokens', 'once');
      assert(~isempty(quick), 'README: no quick start block');
      assert(numel(strsplit(strtrim(quick{1}), "\n")) <= 5, 'the quick start is longer than five lines');
      cd(scratch);
      printed = evalc(regexprep(quick{1}, 'addpath\(''build/mex''\);', ''));
      cd(here);
      assert(~isempty(strfind(printed, 'scores = 7')) && ~isempty(strfind(printed, 'pooled = 4')), ...
             ['README quick start printed: ' printed]);
    end
  end
unwind_protect_cleanup
  cd(here);
  confirm_recursive_rmdir(false, 'local');
  rmdir(scratch, 's');
end_unwind_protect
assert(numel(norun) <= 3, sprintf('%d Octave blocks marked norun (at most 3): %s', numel(norun), strjoin(norun, ', ')));
printf('test_otk_doc: %d examples of %d pages ran (%d marked norun)\n', ran, numel(pages), numel(norun));

printf('test_otk_doc: %d functions with help and passing tests; lookfor finds them\n', numel(names));
