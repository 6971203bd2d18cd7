function fz_probe(k, name, a)
% FZ_PROBE  Calls name(a{:}) for probe k of the hostile-input fuzzer and
%   prints one line the driver reads:
%     PROBE k OK
%     PROBE k ERR <identifier or -> <id well formed 0/1> <arrays unchanged 0/1>
%   An error must carry an id "name:mnemonic" and leave every array of a,
%   cell contents included, bit-identical.
  before = bits_of(a);
  try
    feval(name, a{:});
    printf('PROBE %d OK\n', k);
  catch err
    id = err.identifier;
    well_formed = ~isempty(regexp(id, ['^' name ':[A-Za-z][A-Za-z0-9]*$'], 'once'));
    unchanged = isequal(bits_of(a), before);
    if isempty(id)
      id = '-';
    end
    printf('PROBE %d ERR %s %d %d\n', k, id, well_formed, unchanged);
    if ~well_formed || ~unchanged
      printf('MESSAGE %d %s\n', k, strrep(err.message, "\n", ' '));
    end
  end
  fflush(stdout);
end
