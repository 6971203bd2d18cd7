function message = expect_untouched(id, fn, a)
% EXPECT_UNTOUCHED  fn(a{:}) must raise error id and leave every array of the
%   argument list a (cell contents included) bit-identical. Returns the
%   error message.
  before = bits_of(a);
  try
    fn(a{:});
  catch err
    assert(strcmp(err.identifier, id), sprintf('expected error %s, got %s: %s', id, err.identifier, err.message));
    assert(isequal(bits_of(a), before), sprintf('%s: an array changed before the error', id));
    message = err.message;
    return;
  end
  error('test:noError', 'expected error %s, none raised', id);
end
