function v = otk_whole(fname, v, label, count)
% OTK_WHOLE  Checks that V holds whole numbers that fit a 32-bit int and
%   returns them as a double row. With COUNT given, V must have COUNT
%   elements, or be a scalar, which is repeated COUNT times.
  v = otk_real(fname, v, label);
  if nargin > 3
    if numel(v) == 1
      v = repmat(v, 1, count);
    elseif numel(v) ~= count
      error('otk:badSize', '%s: %s must be a scalar or have %d elements, one per map (it has %d)', ...
            fname, label, count, numel(v));
    end
  end
  v = reshape(v, 1, numel(v));
  bad = find(~isfinite(v) | v ~= floor(v) | abs(v) > 2147483647, 1);
  if ~isempty(bad)
    error('otk:notInteger', '%s: %s must hold whole numbers fitting a 32-bit int; entry %d is %g', ...
          fname, label, bad, v(bad));
  end
end
