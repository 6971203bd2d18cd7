function warp_expect_untouched(id, fn, a)
% WARP_EXPECT_UNTOUCHED  fn(a{:}) must raise error id and leave the maps of
%   the source and result grids (inputs 3 and 4) bit-identical.
  before = {};
  for p = 3:4
    if iscell(a{p})
      before{end + 1} = cellfun(@(m) m + 0, a{p}, 'UniformOutput', false);
    end
  end
  expect_error(id, fn, a{:});
  after = {};
  for p = 3:4
    if iscell(a{p})
      after{end + 1} = a{p};
    end
  end
  assert(isequal(before, after));
end
