function a = halvery_args()
% HALVERY_ARGS  The 26 inputs of the worked Halvery call, as a cell array.
%   One 5 x 5 image, N = 2, one element (orientation 0, row 3, column 3,
%   weight 2, bias 1), a response of 4 one row below it, 3 x 3 patches of ones.
  maps = {zeros(5), zeros(5)};
  maps{1}(4, 3) = 4;
  a = {1, 2, maps, cell(2, 2), 1, 5, 5, 0, 0, 3, 3, 2, 1, {ones(3), ones(3)}, {zeros(5)}, ...
       1, 0, 1, 1, 10, zeros(1, 1), zeros(1, 1), 0, 0, 0, 0};
end
