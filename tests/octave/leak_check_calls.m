% LEAK_CHECK_CALLS  Every call of memory_calls (every otk_ function, plug-in
%   and error path), TOOLBOX_LEAK_CALLS times each, in an octave-cli with the
%   address sanitizer's leak checker preloaded, which reports at exit. Run by
%   tests/leak/leak_check.py, which reads the report.
1;
function run_calls(fn, args, nout, times)
  out = cell(1, nout);
  for t = 1:times
    try
      if nout == 0
        fn(args{:});
      else
        [out{:}] = fn(args{:});
      end
    catch
    end
  end
end

times = str2double(getenv('TOOLBOX_LEAK_CALLS'));
if isnan(times)
  times = 5;
end
calls = memory_calls();
for k = 1:rows(calls)
  [label, nout, fn, args] = calls{k, :};
  run_calls(fn, args, nout, times);
end
otk_threads(0);
otk_threads('spin', []);
printf('LEAK CHECK %d calls of %d entry points\n', times, rows(calls));
