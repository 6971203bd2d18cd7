function opts = otk_options(fname, defaults, args, firstPos)
% OTK_OPTIONS  Name-value pairs after the positional inputs, checked against
%   the names in DEFAULTS (matched without regard to case). FIRSTPOS is the
%   position, as the user counts it, of the first name. Unknown names and
%   unpaired values are errors; later pairs override earlier ones.
  opts = defaults;
  names = fieldnames(defaults);
  if mod(numel(args), 2) ~= 0
    error('otk:badOption', '%s: options come in name-value pairs; argument %d has no value', ...
          fname, firstPos + numel(args) - 1);
  end
  for k = 1:2:numel(args)
    name = args{k};
    if isa(name, 'string') && numel(name) == 1
      name = char(name);
    end
    if ~ischar(name) || size(name, 1) ~= 1
      error('otk:badOption', '%s: argument %d must be an option name (one of %s)', ...
            fname, firstPos + k - 1, strjoin(names', ', '));
    end
    hit = strcmpi(names, name);
    if ~any(hit)
      error('otk:unknownOption', '%s: unknown option ''%s'' (argument %d); the options are %s', ...
            fname, name, firstPos + k - 1, strjoin(names', ', '));
    end
    opts.(names{hit}) = args{k + 1};
  end
end
