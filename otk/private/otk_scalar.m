function v = otk_scalar(fname, v, label, kind)
% OTK_SCALAR  Checks that V is a real numeric scalar of the given KIND and
%   returns it as a double:
%     'count'    a whole number >= 0
%     'positiveInteger'  a whole number >= 1
%     'integer'  a whole number
%     'positive' a finite number > 0
%     'real'     any number but NaN (Inf allowed)
%   Whole numbers must fit a 32-bit int. LABEL names V in messages.
  v = otk_real(fname, v, label);
  if numel(v) ~= 1
    error('otk:notScalar', '%s: %s must be a scalar (it has %d elements)', fname, label, numel(v));
  end
  if isnan(v)
    error('otk:notFinite', '%s: %s must not be NaN', fname, label);
  end
  switch kind
    case 'real'
      return;
    case 'positive'
      if ~isfinite(v) || v <= 0
        error('otk:notPositive', '%s: %s must be a finite number above 0 (it is %g)', fname, label, v);
      end
      return;
  end
  if ~isfinite(v)
    error('otk:notFinite', '%s: %s must be finite', fname, label);
  end
  if v ~= floor(v)
    error('otk:notInteger', '%s: %s must be a whole number (it is %g)', fname, label, v);
  end
  if abs(v) > 2147483647
    error('otk:outOfRange', '%s: %s must fit a 32-bit int (it is %g)', fname, label, v);
  end
  if strcmp(kind, 'count') && v < 0
    error('otk:negative', '%s: %s must not be negative (it is %g)', fname, label, v);
  end
  if strcmp(kind, 'positiveInteger') && v < 1
    error('otk:notPositive', '%s: %s must be at least 1 (it is %g)', fname, label, v);
  end
end
