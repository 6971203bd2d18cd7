function t = otk_read_template(fname, tpl, N, label)
% OTK_READ_TEMPLATE  Checks a template struct and returns its elements as
%   double rows: t.orientation, t.row, t.column, t.weight, t.bias and
%   t.count. Orientations must be whole numbers in 0..N-1, rows and columns
%   whole numbers fitting a 32-bit int; weights and biases any real numbers.
  fields = {'orientation', 'row', 'column', 'weight', 'bias'};
  if ~isstruct(tpl) || numel(tpl) ~= 1
    error('otk:badTemplate', ['%s: %s must be a scalar struct with the fields %s ' ...
          '(see otk_template)'], fname, label, strjoin(fields, ', '));
  end
  missing = fields(~isfield(tpl, fields));
  if ~isempty(missing)
    error('otk:badTemplate', '%s: %s has no field %s (see otk_template)', fname, label, missing{1});
  end
  count = numel(tpl.orientation);
  for f = 1:numel(fields)
    name = fields{f};
    where = sprintf('%s.%s', label, name);
    value = otk_real(fname, tpl.(name), where);
    if numel(value) ~= count || (~isempty(value) && ~isvector(value))
      error('otk:badTemplate', '%s: %s must be a vector of %d elements, one per element like .orientation (it is %s)', ...
            fname, where, count, sprintf('%dx%d', size(value, 1), size(value, 2)));
    end
    if f <= 3
      value = otk_whole(fname, value, where);
    else
      value = reshape(value, 1, count);
    end
    t.(name) = value;
  end
  bad = find(t.orientation < 0 | t.orientation >= N, 1);
  if ~isempty(bad)
    error('otk:badOrientation', '%s: %s.orientation must hold orientation indexes in 0..N-1 (N is %d); entry %d is %g', ...
          fname, label, N, bad, t.orientation(bad));
  end
  t.count = count;
end
