function a = wendlow_args()
% WENDLOW_ARGS  The 29 inputs of the worked Wendlow call, as a cell array.
%   One 9 x 9 image, N = 4 (centre (4, 4)), one element (orientation 0, row 6,
%   column 4, weight 1, bias 0), no pooling (shiftRange = oriRange = 0),
%   saturation 10, and a response of 1 at row 3, column 5 of orientation 0,
%   which the half turn shifted by (1, 1) reaches. The results (positions 21,
%   27, 28, 29) are fresh arrays holding 0, 7, 8 and 9.
  maps = {zeros(9), zeros(9), zeros(9), zeros(9)};
  maps{1}(3, 5) = 1;
  a = {1, 4, maps, cell(4, 4), 1, 9, 9, 0, 0, 6, 4, 1, 0, cell(4, 1), {zeros(9)}, ...
       0, 0, 1, 1, 10, zeros(1, 1), zeros(1, 1), 0, 0, 0, 0, ...
       7 + zeros(1, 1), 8 + zeros(1, 1), 9 + zeros(1, 1)};
end
