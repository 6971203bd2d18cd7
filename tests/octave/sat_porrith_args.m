function a = sat_porrith_args(value)
% SAT_PORRITH_ARGS  The 10 inputs of the worked Porrith call, as a cell array.
%   One 4 x 4 map of zeros whose only region pixel (2, 2) holds value,
%   margin 1, four bins of 0.25, a zero histogram, level 1.
  m = zeros(4);
  m(2, 2) = value;
  a = {1, 1, {m}, 1, 4, 4, 0.25, 4, zeros(1, 4), 1};
end
