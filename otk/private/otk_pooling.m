function p = otk_pooling(fname, o, N)
% OTK_POOLING  Checks the pooling options ShiftRange, OriRange, ShiftStep and
%   Saturation of O for N orientations and returns them as doubles.
  p.ShiftRange = otk_scalar(fname, o.ShiftRange, 'ShiftRange (option)', 'count');
  p.OriRange = otk_scalar(fname, o.OriRange, 'OriRange (option)', 'count');
  p.ShiftStep = otk_scalar(fname, o.ShiftStep, 'ShiftStep (option)', 'integer');
  p.Saturation = otk_scalar(fname, o.Saturation, 'Saturation (option)', 'real');
  if p.OriRange > N
    error('otk:outOfRange', '%s: OriRange (option) must not exceed N (it is %d, N is %d)', fname, p.OriRange, N);
  end
  if p.ShiftRange > 1073741823 || p.ShiftRange * abs(p.ShiftStep) > 2147483647
    error('otk:outOfRange', '%s: ShiftRange times |ShiftStep| (options) must fit a 32-bit int (%d x %d does not)', ...
          fname, p.ShiftRange, p.ShiftStep);
  end
end
