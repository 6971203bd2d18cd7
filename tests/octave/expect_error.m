function expect_error(id, fn, varargin)
% EXPECT_ERROR  Call fn(varargin{:}) and check it raises the error id.
  try
    fn(varargin{:});
  catch err
    if ~strcmp(err.identifier, id)
      error('test:wrongError', 'expected error %s, got %s: %s', id, err.identifier, err.message);
    end
    return;
  end
  error('test:noError', 'expected error %s, none raised', id);
end
