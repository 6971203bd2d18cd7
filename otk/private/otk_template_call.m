function [m, t, o, p] = otk_template_call(fname, maps, template, defaults, args)
% OTK_TEMPLATE_CALL  Reads the inputs that scoring and searching share: MAPS
%   (argument 1), TEMPLATE (argument 2) and the name-value pairs ARGS from
%   argument 3 on, against the options in DEFAULTS. Returns the maps
%   (otk_maps), the template (otk_read_template), the options and the
%   checked pooling options (otk_pooling).
  m = otk_maps(fname, maps, 'MAPS (argument 1)', 'stacks');
  t = otk_read_template(fname, template, m.N, 'TEMPLATE (argument 2)');
  o = otk_options(fname, defaults, args, 3);
  p = otk_pooling(fname, o, m.N);
end
