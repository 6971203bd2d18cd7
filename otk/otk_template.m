function tpl = otk_template(orientation, row, column, weight, bias)
%OTK_TEMPLATE  Make a template struct from its elements' orientation, row, column, weight and bias.
%   TPL = OTK_TEMPLATE(ORIENTATION, ROW, COLUMN) makes a template of
%   numel(ROW) elements with weight 1 and bias 0.
%   TPL = OTK_TEMPLATE(ORIENTATION, ROW, COLUMN, WEIGHT, BIAS) sets them too.
%
%   Element k has the orientation index ORIENTATION(k) (0..N-1: the angle
%   pi*ORIENTATION(k)/N from the row axis toward the column axis), sits at
%   row ROW(k) and column COLUMN(k) (1-based) and adds
%   WEIGHT(k)*v - BIAS(k) to a score, v being its pooled response. Each
%   input is a vector with one entry per element, or a scalar, which is
%   repeated for every element. Orientations, rows and columns must be whole
%   numbers; the range of orientations is checked where N is known.
%
%   The template is a scalar struct with the row vectors
%     tpl.orientation  tpl.row  tpl.column  tpl.weight  tpl.bias
%   Every function of the toolbox takes a template in this form; you may
%   also build the struct yourself, and extra fields are kept and ignored.
%
%   Errors: otk:nargin, otk:notNumeric, otk:notReal, otk:sparse,
%   otk:notInteger, otk:badSize (vectors of different lengths).
%
%   Example:
%     tpl = otk_template([0 4], [10 12], [8 20], 1, 0.5)
%
%   See also otk_score_template, otk_search_transform, otk_transform_template.

  fname = 'otk_template';
  if nargin < 3
    error('otk:nargin', '%s: expects ORIENTATION, ROW and COLUMN (got %d inputs)', fname, nargin);
  end
  if nargin < 4
    weight = 1;
  end
  if nargin < 5
    bias = 0;
  end
  values = {orientation, row, column, weight, bias};
  names = {'orientation', 'row', 'column', 'weight', 'bias'};
  count = 1;
  for k = 1:5
    values{k} = otk_real(fname, values{k}, sprintf('%s (argument %d)', upper(names{k}), k));
    if numel(values{k}) ~= 1
      if count ~= 1 && numel(values{k}) ~= count
        error('otk:badSize', '%s: %s (argument %d) has %d elements, an earlier input %d', ...
              fname, upper(names{k}), k, numel(values{k}), count);
      end
      count = numel(values{k});
    end
  end
  tpl = struct();
  for k = 1:5
    v = values{k};
    if numel(v) == 1
      v = repmat(v, 1, count);
    end
    if k <= 3
      v = otk_whole(fname, v, sprintf('%s (argument %d)', upper(names{k}), k));
    end
    tpl.(names{k}) = reshape(v, 1, count);
  end
end

%!test
%! tpl = otk_template([0 4], [10 12], [8 20], 1, 0.5);
%! assert (tpl.orientation, [0 4]);
%! assert (tpl.row, [10 12]);
%! assert (tpl.column, [8 20]);
%! assert (tpl.weight, [1 1]);
%! assert (tpl.bias, [0.5 0.5]);

%!test
%! tpl = otk_template(int8(3), uint16(2), single(7));
%! assert (class (tpl.row), 'double');
%! assert ([tpl.orientation tpl.row tpl.column tpl.weight tpl.bias], [3 2 7 1 0]);

%!error id=otk:notInteger otk_template(0, 2.5, 3)
%!error id=otk:badSize otk_template([0 1], [1 2 3], 3)
%!error id=otk:notReal otk_template(0, 1i, 3)
%!error id=otk:nargin otk_template(0, 1)
