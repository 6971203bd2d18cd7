function v = arg_at(a, loc)
% ARG_AT  Argument loc(1) of the list a, or cell loc(2) of it.
  if numel(loc) == 1
    v = a{loc};
  else
    v = a{loc(1)}{loc(2)};
  end
end
