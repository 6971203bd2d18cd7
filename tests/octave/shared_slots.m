function [mem, slot] = shared_slots(a, locs, R, I)
% SHARED_SLOTS  Storage for a plain reference of a call in which the result
%   at location R is the same array as the input at location I: mem{slot(k)}
%   holds what location locs{k} refers to, and R and I refer to one slot that
%   starts with the input's values. Locations as for ARG_AT.
  mem = cellfun(@(loc) arg_at(a, loc), locs, 'UniformOutput', false);
  slot = 1:numel(locs);
  same = @(x, y) isequal(x, y);
  iR = find(cellfun(@(loc) same(loc, R), locs));
  iI = find(cellfun(@(loc) same(loc, I), locs));
  slot(iR) = iI;
end
