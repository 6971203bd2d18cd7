function e = args_from_slots(a, locs, mem, slot)
% ARGS_FROM_SLOTS  The argument list a with every location locs{k} set to
%   what a plain reference left in its storage mem{slot(k)} (SHARED_SLOTS).
  e = a;
  for k = 1:numel(locs)
    e = set_arg_at(e, locs{k}, mem{slot(k)});
  end
end
