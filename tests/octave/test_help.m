% The help beside every plug-in matches its gateway: help works, the input
% count in the help is the count below which the gateway raises NAME:nargin,
% every numbered input name in the help is the gateway's name for that
% position (and the other way round), and the example runs.

root = getenv('TOOLBOX_SOURCE_DIR');
names = {'Halvery', 'Wendlow', 'Sabrel', 'Mundle', 'Fenwold', 'Porrith'};
% What each example prints, as its comments say.
promised = {'scores = 7', '1   1   1   4', '20   10    0', '20   10    0', '0.7616   1.0000', '0   4   0   0'};
checked = 0;
for n = 1:numel(names)
  name = names{n};
  if exist(name) ~= 3
    continue;
  end
  text = help(name);
  assert(~isempty(strfind(text, upper(name))), [name ': no help']);
  count = str2double(regexp(text, 'Inputs \((\d+);', 'tokens', 'once'));
  assert(count > 0, [name ': help gives no input count']);

  % The gateway's own table of argument names, in position order: the one it
  % hands to its Gateway record, in its own source or in the argument module.
  source = fileread(fullfile(root, name, [name '.cpp']));
  tableName = regexp(source, ['Gateway\s+\w+\s*=\s*\{\s*"' name '"\s*,\s*\w+\s*,\s*\w+\s*,\s*(\w+)'], 'tokens', 'once');
  assert(~isempty(tableName), [name ': gateway record not found']);
  files = [{fullfile(root, name, [name '.cpp'])}, ...
           cellfun(@(f) fullfile(root, 'args', f), {dir(fullfile(root, 'args', '*.cpp')).name}, 'UniformOutput', false)];
  table = {};
  for f = 1:numel(files)
    table = regexp(fileread(files{f}), ['\<' tableName{1} '\[[^\]]*\]\s*=\s*\{(.*?)\};'], 'tokens', 'once');
    if ~isempty(table)
      break;
    end
  end
  assert(~isempty(table), [name ': argument-name table ' tableName{1} ' not found']);
  entries = strtrim(strsplit(regexprep(table{1}, '\s+', ' '), ','));
  entries = entries(~cellfun(@isempty, entries));
  assert(numel(entries) == count, sprintf('%s: help says %d inputs, gateway names %d', name, count, numel(entries)));

  % Numbered lines of the help: "  7  nCols  ...".
  lines = regexp(text, '\n\s+(\d+)\s+([A-Za-z]\w*)\s', 'tokens');
  helpNames = cell(1, count);
  for k = 1:numel(lines)
    helpNames{str2double(lines{k}{1})} = lines{k}{2};
  end
  for k = 1:count
    gatewayName = strrep(entries{k}, '"', '');
    if strcmp(gatewayName, 'nullptr')
      assert(isempty(helpNames{k}), sprintf('%s: input %d is unused in the gateway but named %s in the help', name, k, helpNames{k}));
    else
      assert(strcmp(helpNames{k}, gatewayName), ...
             sprintf('%s: input %d is %s in the gateway, %s in the help', name, k, gatewayName, helpNames{k}));
    end
  end

  % The example runs as written and prints what its comments promise.
  printed = run_help_example(name);
  assert(~isempty(strfind(printed, promised{n})), [name ': the example printed ' printed]);

  % The count is the gateway's: one input fewer is a named error.
  args = num2cell(zeros(1, count - 1));
  expect_error([name ':nargin'], str2func(name), args{:});
  checked = checked + 1;
end
assert(checked >= 1);
printf('test_help: %d functions checked\n', checked);
