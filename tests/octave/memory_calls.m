function [calls, nRight] = memory_calls()
% MEMORY_CALLS  Every otk_ function and plug-in, called right and wrong, as
%   rows {label, outputs, function, inputs}: the calls a leak test repeats.
%   The wrong calls fail at every stage of reading: the first input, one
%   after blocks were taken for the maps, a field, a cell, an option, and the
%   memory check; thread and spin settings and a plug-in unloaded and loaded
%   again are among them. The first nRight rows are right calls, the rest
%   must fail.
  maps = zeros(5, 5, 2);
  maps(4, 3, 1) = 4;
  grid = {maps(:, :, 1), maps(:, :, 2)};
  tpl = otk_template([0 1], [3 2], [3 4], [2 1], [1 0]);
  move = struct('rowShift', 1, 'columnShift', 0, 'rotation', 4, 'orientations', 8, 'centre', [12 12]);
  h = halvery_args();
  w = wendlow_args();
  p = sat_porrith_args(0.6);
  late = h;
  late{21} = zeros(0);  % scores: fails after the maps and patches were read
  badCell = h;
  badCell{15} = {'text'};
  badOri = h;
  badOri{9} = 7;
  wLate = w;
  wLate{29} = zeros(0);
  pLate = p;
  pLate{9} = zeros(1, 2);
  calls = {
    'otk_score_template', 3, @otk_score_template, {maps, tpl, 'Patches', {ones(3), ones(3)}}
    'otk_score_template cells', 2, @otk_score_template, {grid, tpl, 'ShiftRange', 2}
    'otk_score_template int8', 1, @otk_score_template, {int8(maps), tpl}
    'otk_search_transform', 4, @otk_search_transform, {maps, tpl, 'ShiftRange', 2}
    'otk_search_transform struct', 1, @otk_search_transform, {grid, tpl}
    'otk_transform_template', 1, @otk_transform_template, {tpl, move}
    'otk_transform_points', 3, @otk_transform_points, {4, 2, 2, [1 2], [1 3], [0 1], 0, 0, 1}
    'otk_warp_maps', 1, @otk_warp_maps, {maps, [0 1], 0, 1, 4}
    'otk_warp_maps cells', 1, @otk_warp_maps, {grid, 0, 1, 1, 4}
    'otk_warp_stacks', 1, @otk_warp_stacks, {maps, 0, 0, 1}
    'otk_warp_stacks cells', 1, @otk_warp_stacks, {grid, 1, 0, 1}
    'otk_saturate', 1, @otk_saturate, {maps, 2}
    'otk_saturate cells', 1, @otk_saturate, {grid}
    'otk_response_density', 3, @otk_response_density, {maps, 'Bins', 8}
    'otk_response_density cells', 1, @otk_response_density, {grid, 'BinWidth', 0.1}
    'otk_threads query', 1, @otk_threads, {}
    'otk_threads set', 0, @otk_threads, {2}
    'otk_threads default', 0, @otk_threads, {0}
    'otk_threads spin', 1, @otk_threads, {'spin', 100}
    'Halvery', 0, @Halvery, h
    'Wendlow', 0, @Wendlow, w
    'Sabrel', 0, @Sabrel, {1, 2, grid, {zeros(5), zeros(5)}, 5, 5, 0, 0, 1}
    'Mundle', 0, @Mundle, {1, 2, grid, {zeros(5), zeros(5)}, 5, 5, 0, 0, 1}
    'Fenwold', 0, @Fenwold, {1, 2, {zeros(5), ones(5)}, 5, 5, 2}
    'Porrith', 0, @Porrith, p
    'otk_oriented_responses', 1, @otk_oriented_responses, {magic(8), 4, 'HalfSize', 2}
    'otk_learn_template', 1, @otk_learn_template, {maps, 2}
    'otk_learn_template cells', 1, @otk_learn_template, {grid, 2, 'Radius', 2}
    'otk_score_map', 4, @otk_score_map, {maps, tpl, 'Rotations', [0 1]}
    'otk_score_map cells', 3, @otk_score_map, {grid, tpl}
    'clear and load again', 1, @reload, {}
  };
  nRight = rows(calls);
  calls = [calls; {
    'Halvery nargin', 0, @Halvery, {1}
    'Halvery first input', 0, @Halvery, [{-1}, h(2:end)]
    'Halvery scores', 0, @Halvery, late
    'Halvery render cell', 0, @Halvery, badCell
    'Halvery orientation', 0, @Halvery, badOri
    'Halvery nargout', 1, @Halvery, h
    'Wendlow results', 0, @Wendlow, wLate
    'Sabrel maps', 0, @Sabrel, {1, 2, grid, {zeros(4), zeros(5)}, 5, 5, 0, 0, 1}
    'Mundle rotation', 0, @Mundle, {1, 2, grid, {zeros(5), zeros(5)}, 5, 5, 0, 0, 1e10}
    'Fenwold level', 0, @Fenwold, {1, 2, {zeros(5), ones(5)}, 5, 5, 'x'}
    'Porrith histogram', 0, @Porrith, pLate
    'otk_score_template badMapSize', 1, @otk_score_template, {{zeros(5), zeros(6)}, tpl}
    'otk_score_template 3-D cell', 1, @otk_score_template, {{zeros(5, 5, 2), zeros(5)}, tpl}
    'otk_score_template field', 1, @otk_score_template, {maps, setfield(tpl, 'row', [3.5 2])}
    'otk_score_template field shape', 1, @otk_score_template, {maps, setfield(tpl, 'weight', ones(2))}
    'otk_score_template patches', 1, @otk_score_template, {maps, tpl, 'Patches', {ones(3), ones(5)}}
    'otk_score_template option', 1, @otk_score_template, {maps, tpl, 'Shiftrang', 1}
    'otk_score_template option value', 1, @otk_score_template, {maps, tpl, 'OriRange', NaN}
    'otk_score_template nargout', 4, @otk_score_template, {maps, tpl}
    'otk_search_transform orientation', 1, @otk_search_transform, {maps, otk_template(-1, 3, 3)}
    'otk_transform_template field', 1, @otk_transform_template, {tpl, setfield(move, 'centre', 1)}
    'otk_transform_template struct', 1, @otk_transform_template, {tpl, 5}
    'otk_transform_points', 1, @otk_transform_points, {4, 2, 2, 1.5, 1, 0, 0, 0, 1}
    'otk_warp_maps class', 1, @otk_warp_maps, {sparse(zeros(5)), 0, 0, 0, 4}
    'otk_warp_maps size', 1, @otk_warp_maps, {maps, [0 0 0], 0, 0, 4}
    'otk_warp_stacks cell size', 1, @otk_warp_stacks, {{zeros(5); zeros(25, 1)}, 0, 0, 0}
    'otk_saturate level', 1, @otk_saturate, {maps, -1}
    'otk_saturate class', 1, @otk_saturate, {'text', 1}
    'otk_response_density bins', 1, @otk_response_density, {maps, 'Bins', 0}
    'otk_response_density memory', 1, @otk_response_density, {maps, 'Bins', 2^31 - 1}
    'otk_oriented_responses N', 1, @otk_oriented_responses, {magic(8), 0}
    'otk_oriented_responses option', 1, @otk_oriented_responses, {magic(8), 4, 'Wavelen', 2}
    'otk_learn_template K', 1, @otk_learn_template, {maps, 0}
    'otk_learn_template option', 1, @otk_learn_template, {grid, 2, 'Radius', -1}
    'otk_score_map rotations', 1, @otk_score_map, {maps, tpl, 'Rotations', 1.5}
    'otk_score_map field', 1, @otk_score_map, {grid, setfield(tpl, 'row', [3.5 2])}
    'otk_threads count', 0, @otk_threads, {-1}
    'otk_threads spin', 0, @otk_threads, {'spin', -1}
  }];
end

function n = reload()
  clear otk_saturate;
  n = numel(otk_saturate(1));
end
