%OTK_LEARN_TEMPLATE  Learn a template from aligned examples: strong, separated elements of their mean pooled responses.
%   TEMPLATE = OTK_LEARN_TEMPLATE(MAPS, K)
%   TEMPLATE = OTK_LEARN_TEMPLATE(MAPS, K, 'Name', value, ...)
%
%   MAPS holds the response maps of aligned examples of the shape, as in
%   otk_score_template: an nRows x nCols x N x nImages array or an
%   nImages x N cell grid of nRows x nCols maps, one image per example.
%
%   A candidate element is a (row, column, orientation). Its value is its
%   pooled response (the pooling of otk_score_template, with the same
%   options and defaults) averaged over the examples: summed from 0 in
%   image order, then divided by their number. Only candidates with
%     (row - floor(nRows/2))^2 + (column - floor(nCols/2))^2 <= Radius^2
%   take part: the centre is the one about which otk_search_transform and
%   otk_score_map turn a template, counted from 1, so a template kept
%   within a radius that fits the maps stays inside them when turned.
%   Then, up to K times: the candidate of the largest value is picked (of
%   equal values the first in the order of an nRows x nCols x N array,
%   as max returns it), and every candidate of any orientation at a
%   distance d with d^2 < Separation^2 from it is dropped, as is the pick
%   itself. TEMPLATE has fewer than K elements when the candidates run out
%   first. The pooling never takes a NaN response, so no value is NaN.
%
%   TEMPLATE is a struct as otk_template makes it, its elements in the
%   order picked (largest value first), with weight 1, bias BiasFraction
%   times the element's mean pooled value, and one more field:
%     meanPooled   each element's mean pooled value (1 x K)
%
%   Options (name-value pairs, names in any case):
%     'ShiftRange'    pooling shifts either side, a whole number >= 0 (1)
%     'OriRange'      pooling orientations either side, 0..N (1)
%     'ShiftStep'     pixels per pooling shift, a whole number (1)
%     'Saturation'    cap of every pooled value, not NaN (Inf: no cap)
%     'Radius'        candidates' largest distance from the centre, in
%                     pixels, >= 0 (Inf: every position)
%     'Separation'    elements' least distance from each other, in pixels,
%                     >= 0 (3)
%     'BiasFraction'  bias of each element as a fraction of its mean
%                     pooled value (0.5: a match scores about half the
%                     template's total)
%
%   The pooling runs on the threads of otk_threads with the same bits for
%   any thread count. MAPS is never modified.
%
%   Errors (ids otk:<mnemonic>): as otk_score_template, and empty (no
%   image, orientation or pixel), notPositive (K below 1), negative.
%
%   Example:
%     maps = zeros(9, 9, 4, 2);
%     maps(4, 3:6, 3, :) = 1;             % a line across, in both examples
%     tpl = otk_learn_template(maps, 2, 'ShiftRange', 0, 'OriRange', 0);
%     [tpl.row; tpl.column; tpl.orientation]   % (4, 3) and (4, 6), orientation 2
%
%   See also otk_score_map, otk_score_template, otk_template.

% This file holds the help and the tests of the compiled function of the
% same name. Run alone, without the compiled function beside it, it says so.
error('otk:notBuilt', ...
      'otk_learn_template: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!function tpl = learn_reference(maps, K, sr, orr, step, sat, radius, sep, frac)
%!  ## The rule with whole-array operations: each orientation pooled as the
%!  ## running maximum, from 0, of the maps moved by each shift and turned
%!  ## by each orientation offset (NaN never wins), capped; then the picks.
%!  [nR, nC, N, nI] = size(maps);
%!  nI = size(maps, 4);
%!  PI = 3.1415926;
%!  P = zeros(nR, nC, N, nI);
%!  for o = 0:N-1
%!    best = zeros(nR, nC, 1, nI);
%!    for i = -sr:sr
%!      dx = floor(i * step * cos(PI * o / N) + 0.5);
%!      dy = floor(i * step * sin(PI * o / N) + 0.5);
%!      rs = max(1, 1 - dx):min(nR, nR - dx);
%!      cs = max(1, 1 - dy):min(nC, nC - dy);
%!      for j = -orr:orr
%!        moved = zeros(nR, nC, 1, nI);
%!        moved(rs, cs, 1, :) = maps(rs + dx, cs + dy, mod(o + j, N) + 1, :);
%!        best = max(best, moved);
%!      end
%!    end
%!    P(:, :, o + 1, :) = min(best, sat);
%!  end
%!  m = zeros(nR, nC, N);
%!  for i = 1:nI
%!    m = m + P(:, :, :, i);
%!  end
%!  m = m / nI;
%!  [cols, rows] = meshgrid(1:nC, 1:nR);
%!  alive = repmat((rows - floor(nR / 2)).^2 + (cols - floor(nC / 2)).^2 <= radius^2, [1 1 N]);
%!  tpl = otk_template(zeros(1, 0), zeros(1, 0), zeros(1, 0));
%!  tpl.meanPooled = zeros(1, 0);
%!  while numel(tpl.row) < K && any(alive(:))
%!    v = m;
%!    v(~alive) = NaN;
%!    [value, at] = max(v(:));
%!    [r, c, o] = ind2sub([nR nC N], at);
%!    tpl.orientation(end + 1) = o - 1;  tpl.row(end + 1) = r;  tpl.column(end + 1) = c;
%!    tpl.weight(end + 1) = 1;  tpl.bias(end + 1) = frac * value;  tpl.meanPooled(end + 1) = value;
%!    near = (rows - r).^2 + (cols - c).^2 < sep^2;
%!    near(r, c) = true;
%!    alive(repmat(near, [1 1 N])) = false;
%!  end
%!endfunction

%!function tpl = demo_pick_template(stack, K, radius, minSeparation)
%!  ## pick_template of demo/toolbox_demo.m, as it stands there.
%!  [nRows, nCols, N] = size(stack);
%!  [best, bestOri] = max(stack, [], 3);
%!  [cols, rows] = meshgrid(1:nCols, 1:nRows);
%!  inside = (rows - floor(nRows / 2)).^2 + (cols - floor(nCols / 2)).^2 <= radius^2;
%!  candidates = find(inside);
%!  [values, order] = sort(best(candidates), 'descend');
%!  candidates = candidates(order);
%!  picked = zeros(1, 0);
%!  for c = 1:numel(candidates)
%!    near = (rows(candidates(picked)) - rows(candidates(c))).^2 + ...
%!           (cols(candidates(picked)) - cols(candidates(c))).^2 < minSeparation^2;
%!    if ~any(near)
%!      picked(end + 1) = c;
%!      if numel(picked) == K
%!        break;
%!      end
%!    end
%!  end
%!  at = candidates(picked);
%!  tpl = otk_template(bestOri(at) - 1, rows(at), cols(at), 1, 0.5 * values(picked));
%!  tpl.value = reshape(values(picked), 1, []);
%!endfunction

%!test
%! ## Seeded random examples, with NaN, negative and capped responses, from
%! ## the array and the cell grid, on one thread and two: the plain rule's
%! ## template bit for bit.
%! seed = 11;  rand('seed', seed);
%! maps = rand(21, 17, 6, 5) - 0.1;
%! maps(3, 4, 2, 1) = NaN;
%! grid = cell(5, 6);
%! for i = 1:5
%!   for o = 1:6
%!     grid{i, o} = maps(:, :, o, i);
%!   end
%! end
%! cases = {{1, 1, 1, 0.9, Inf, 3, 0.5}, {2, 0, 2, Inf, 6.5, 2.5, 0.25}, {0, 6, 1, Inf, 0, 0, 1}, ...
%!          {1, 2, -1, 0.7, 8, 30, 0.5}};
%! before = otk_threads();
%! for k = 1:numel(cases)
%!   [sr, orr, step, sat, radius, sep, frac] = cases{k}{:};
%!   ref = learn_reference(maps, 12, sr, orr, step, sat, radius, sep, frac);
%!   opts = {'ShiftRange', sr, 'OriRange', orr, 'ShiftStep', step, 'Saturation', sat, 'Radius', radius, ...
%!           'Separation', sep, 'BiasFraction', frac};
%!   for threads = [1 2]
%!     otk_threads(threads);
%!     got = otk_learn_template(maps, 12, opts{:});
%!     assert (isequal (got, ref), 'seed %d, case %d, %d threads', seed, k, threads);
%!     assert (isequal (otk_learn_template(grid, 12, opts{:}), ref), 'seed %d, case %d: cell grid', seed, k);
%!   end
%! end
%! otk_threads(before);

%!test
%! ## Enough picks that the later ones lie past the part of the order the
%! ## call sorts first.
%! seed = 12;  rand('seed', seed);
%! maps = rand(40, 40, 2);
%! ref = learn_reference(maps, 60, 0, 0, 1, Inf, Inf, 5, 0.5);
%! assert (isequal (otk_learn_template(maps, 60, 'ShiftRange', 0, 'OriRange', 0, 'Separation', 5), ref), 'seed %d', seed);

%!test
%! ## A mean of 32 MB (512^2 x 16), which the call holds in a block of its
%! ## own from the system: the plain rule's template.
%! seed = 14;  rand('seed', seed);
%! maps = rand(512, 512, 16);
%! ref = learn_reference(maps, 8, 0, 0, 1, Inf, Inf, 3, 0.5);
%! assert (isequal (otk_learn_template(maps, 8, 'ShiftRange', 0, 'OriRange', 0), ref), 'seed %d', seed);

%!test
%! ## One example, no pooling: the demo's pick_template's elements.
%! seed = 13;  rand('seed', seed);
%! stack = rand(64, 64, 16);
%! demo = demo_pick_template(stack, 30, 0.3 * 64, 8);
%! tpl = otk_learn_template(stack, 30, 'ShiftRange', 0, 'OriRange', 0, 'Radius', 0.3 * 64, 'Separation', 8);
%! assert (isequal ([tpl.orientation; tpl.row; tpl.column; tpl.bias], ...
%!                  [demo.orientation; demo.row; demo.column; demo.bias]), 'seed %d', seed);

%!test
%! ## The help's example, and the candidates running out before K.
%! maps = zeros(9, 9, 4, 2);
%! maps(4, 3:6, 3, :) = 1;
%! tpl = otk_learn_template(maps, 2, 'ShiftRange', 0, 'OriRange', 0);
%! assert ([tpl.row; tpl.column; tpl.orientation], [4 4; 3 6; 2 2]);
%! assert ([tpl.weight tpl.bias tpl.meanPooled], [1 1 0.5 0.5 1 1]);
%! tpl = otk_learn_template(maps, 100, 'Radius', 1, 'Separation', 0);
%! assert (numel (tpl.row), 5);
%! tpl = otk_learn_template(zeros(1, 1, 1), 3, 'Radius', 0);
%! assert (size (tpl.row), [1 0]);

%!error id=otk:empty otk_learn_template(zeros(5, 5, 2, 0), 3)
%!error id=otk:empty otk_learn_template(cell(0, 2), 3)
%!error id=otk:notPositive otk_learn_template(zeros(5, 5, 2), 0)
%!error id=otk:notFinite otk_learn_template(zeros(5, 5, 2), NaN)
%!error id=otk:notInteger otk_learn_template(zeros(5, 5, 2), 2.5)
%!error id=otk:negative otk_learn_template(zeros(5, 5, 2), 2, 'Radius', -1)
%!error id=otk:notFinite otk_learn_template(zeros(5, 5, 2), 2, 'Separation', NaN)
%!error id=otk:unknownOption otk_learn_template(zeros(5, 5, 2), 2, 'Bias', 1)
%!error id=otk:notNumeric otk_learn_template({'a'}, 2)

%!demo
%! ## Three noisy, aligned examples of a bar; the template lies along it.
%! rand('seed', 1);
%! maps = 0.2 * rand(15, 15, 4, 3);
%! maps(5:11, 8, 1, :) = 1;
%! tpl = otk_learn_template(maps, 3, 'Separation', 2)
