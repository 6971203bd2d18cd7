function x = otk_real(fname, x, label)
% OTK_REAL  X as a double array, after checking that it is a real, full
%   numeric (or logical) array. LABEL names it in messages, e.g.
%   'MAPS (argument 1)'. The result may share storage with X: use it only
%   for reading.
  if ~(isnumeric(x) || islogical(x))
    error('otk:notNumeric', '%s: %s must be numeric, not %s', fname, label, class(x));
  end
  if ~isreal(x)
    error('otk:notReal', '%s: %s must be real, not complex', fname, label);
  end
  if issparse(x)
    error('otk:sparse', '%s: %s must be a full array, not sparse', fname, label);
  end
  x = double(x);
end
