function a = set_arg_at(a, loc, v)
% SET_ARG_AT  The list a with argument loc(1), or cell loc(2) of it, set to v.
  if numel(loc) == 1
    a{loc} = v;
  else
    a{loc(1)}{loc(2)} = v;
  end
end
