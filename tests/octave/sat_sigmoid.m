function q = sat_sigmoid(v, s)
% SAT_SIGMOID  The saturation of v at level s, the same exp-based steps.
  q = s .* (2 ./ (exp((-2 .* v) ./ s) + 1) - 1);
end
