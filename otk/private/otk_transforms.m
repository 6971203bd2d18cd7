function [m, dX, dY, dO] = otk_transforms(fname, maps, label, layout, rowShift, columnShift, rotation)
% OTK_TRANSFORMS  Reads the inputs that both warps share: the maps (argument
%   1, called LABEL in messages, read by otk_maps with LAYOUT) and the row
%   shifts, column shifts and rotations (arguments 2 to 4), each a scalar
%   for every map or image or one whole number per map or image, returned as
%   double rows.
  m = otk_maps(fname, maps, [label ' (argument 1)'], layout);
  n = m.nImages;
  dX = otk_whole(fname, rowShift, 'ROWSHIFT (argument 2)', n);
  dY = otk_whole(fname, columnShift, 'COLUMNSHIFT (argument 3)', n);
  dO = otk_whole(fname, rotation, 'ROTATION (argument 4)', n);
end
