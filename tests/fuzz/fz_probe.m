function fz_probe(k, name, a, fresh, nout)
% FZ_PROBE  Calls name(a{:}) for probe k of the hostile-input fuzzer and
%   prints one line the driver reads:
%     PROBE k OK
%     PROBE k ERR <identifier or -> <id well formed 0/1> <arrays unchanged 0/1>
%   An error must carry an id "name:mnemonic" (for an otk_ function also
%   "otk:mnemonic") and leave every array of a, cell contents included,
%   bit-identical to fresh, the same arguments built apart. nout (default
%   0) outputs are asked for. The thread
%   setting, which otk_threads changes, is put back after every call.
  threads = getenv('OTK_NUM_THREADS');
  prefix = name;
  if strncmp(name, 'otk_', 4)
    prefix = ['(?:' name '|otk)'];
  end
  try
    if nargin > 4 && nout > 0
      out = cell(1, nout);
      [out{:}] = feval(name, a{:});
    else
      feval(name, a{:});
    end
    printf('PROBE %d OK\n', k);
  catch err
    id = err.identifier;
    well_formed = ~isempty(regexp(id, ['^' prefix ':[A-Za-z][A-Za-z0-9]*$'], 'once'));
    unchanged = isequal(bits_of(a), bits_of(fresh));
    if isempty(id)
      id = '-';
    end
    printf('PROBE %d ERR %s %d %d\n', k, id, well_formed, unchanged);
    if ~well_formed || ~unchanged
      printf('MESSAGE %d %s\n', k, strrep(err.message, "\n", ' '));
    end
  end
  if isempty(threads)
    unsetenv('OTK_NUM_THREADS');
  else
    setenv('OTK_NUM_THREADS', threads);
  end
  fflush(stdout);
end
