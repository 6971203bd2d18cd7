function y = otk_fresh(x)
% OTK_FRESH  A copy of the double array X in storage of its own, bit for bit
%   (-0, NaN and Inf included). Assignments such as y(:) = x, double(x),
%   reshape(x) and slices x(:,:,k) share X's storage in Octave until one of
%   them is changed by the host language, and a plug-in that writes in place
%   would change X through them; a product is always a new array.
  y = x .* 1;
end
