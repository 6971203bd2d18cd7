% One array passed both as a result and as an input it could alias, for
% every such pair of positions of every plug-in (the cases are in
% aliasing_cases.m): element values and per-map transforms are read before
% the first write, maps keep the plain order of reads and writes. The cases
% run in child processes, so that a plug-in that crashes on one is reported
% with that case and the others still run.

1;  % a script, not a function file

function [failed, crashed, count] = run_cases(name)
% Runs the cases of name in one child, and again after each case that takes
% its child down, from the case after it; a case that ends its child is
% rerun on its own to be sure it is the culprit.
  count = numel(aliasing_cases(name));
  failed = {}; crashed = {};
  next = 1;
  while next <= count
    [status, output] = child_octave(sprintf('aliasing_cases(''%s'', %d:%d)', name, next, count));
    [done, failures] = parse(output);
    failed = [failed, failures];
    missing = setdiff(next:count, done);
    if isempty(missing)
      if status ~= 0
        crashed{end + 1} = sprintf('%s: every case ran, but the child ended with status %d:\n%s', name, status, output);
      end
      break;
    end
    k = missing(1);
    [status1, output1] = child_octave(sprintf('aliasing_cases(''%s'', %d)', name, k));
    [done1, failures1] = parse(output1);
    failed = [failed, failures1];
    if isempty(done1) || status1 ~= 0
      descriptions = aliasing_cases(name);
      crashed{end + 1} = sprintf('case %d, %s: the child ended with status %d: %s', k, descriptions{k}, ...
                                 status1, last_lines(output1));
    end
    next = k + 1;
  end
end

function [done, failures] = parse(output)
  tokens = regexp(output, '(?m)^(?:PASS|FAIL) (\d+)', 'tokens');
  done = cellfun(@(t) str2double(t{1}), tokens);
  failures = regexp(output, '(?m)^FAIL [^\n]*', 'match');
end

function s = last_lines(output)
% A sanitizer's summary line if there is one, else the last lines.
  s = regexp(output, 'SUMMARY: [^\n]*', 'match', 'once');
  if isempty(s)
    lines = strsplit(strtrim(output), "\n");
    s = strjoin(lines(max(1, end - 2):end), ' | ');
  end
end

names = {'Halvery', 'Wendlow', 'Sabrel', 'Mundle', 'Fenwold', 'Porrith'};
problems = {};
total = 0;
for n = 1:numel(names)
  if exist(names{n}) ~= 3
    continue;
  end
  [failed, crashed, count] = run_cases(names{n});
  total = total + count;
  problems = [problems, failed, crashed];
end
if ~isempty(problems)
  error('test:aliasing', '%d of %d aliasing cases failed or crashed:\n%s', numel(problems), total, ...
        strjoin(problems, "\n"));
end
printf('test_aliasing: %d cases, each as with unshared copies or the plain order\n', total);
