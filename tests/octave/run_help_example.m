function out = run_help_example(name)
% RUN_HELP_EXAMPLE  Run the Example block of a function's help in a scope of
%   its own and return what it printed.
  text = help(name);
  block = regexp(text, 'Example:\n(.*?)\n\s*\n', 'tokens', 'once');
  assert(~isempty(block), [name ': help has no example']);
  code = regexprep(block{1}, '(^|\n)\s*', '$1');
  out = evalc(code);
end
