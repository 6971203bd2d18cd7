%OTK_SCORE_MAP  Score a template at every placement of a batch of images to detect it: score map, best rotation and peaks.
%   SCORE = OTK_SCORE_MAP(MAPS, TEMPLATE)
%   [SCORE, ROTATION, PEAKS, ALL] = OTK_SCORE_MAP(MAPS, TEMPLATE, 'Name', value, ...)
%
%   MAPS and TEMPLATE are as in otk_score_template: an nRows x nCols x N x
%   nImages array or an nImages x N cell grid of maps, and a struct with the
%   fields orientation, row, column, weight and bias (see otk_template).
%
%   The placement (r, c) of rotation q moves the template as
%     otk_transform_template(TEMPLATE, struct('rowShift', r - floor(nRows/2), ...
%         'columnShift', c - floor(nCols/2), 'rotation', q, ...
%         'orientations', N, 'centre', [floor(nRows/2), floor(nCols/2)]))
%   does: every element is turned by q orientation steps of pi/N about the
%   centre (floor(nRows/2), floor(nCols/2)), counted from 1 as the search
%   counts it, then moved by the shift, through the toolbox's point
%   transform. With q = 0 this is the template moved by r - floor(nRows/2)
%   rows and c - floor(nCols/2) columns: the placement (r, c) puts the
%   template's centre pixel on pixel (r, c). The score of a placement is
%   the score otk_score_template gives the moved template on the image, bit
%   for bit, with the same pooling options: from 0, element by element in
%   the template's order, weight*v - bias, v the element's pooled response
%   (0, or the cap when it is below 0, where the element reads no sample
%   inside the map, as far outside as it may lie).
%
%   SCORE     nRows x nCols x nImages: SCORE(r, c, i) is the best score of
%             placement (r, c) on image i over the rotations (with one
%             rotation, its score).
%   ROTATION  nRows x nCols x nImages: the rotation (in steps, as given in
%             'Rotations') that gave SCORE: of equal scores the first in the
%             list; NaN scores are passed over unless all are NaN (as max
%             over the rotations does).
%   PEAKS     a P x 5 matrix, one detection per row:
%             [image, row, column, rotation, score]. Per image (images in
%             order), the peaks of SCORE: placements whose score is not NaN
%             and not below any of their up to 8 neighbours; taken greedily,
%             highest score first (of equal scores the first in column-major
%             order), each dropping every other peak at a distance d with
%             d^2 < MinDistance^2, until MaxPeaks are taken or none is left.
%   ALL       nRows x nCols x nRot x nImages: every rotation's scores,
%             ALL(:, :, k, i) for Rotations(k).
%   Every output is a numeric array, whether MAPS is an array or a cell grid.
%
%   Options (name-value pairs, names in any case):
%     'ShiftRange'   pooling shifts either side, a whole number >= 0 (1)
%     'OriRange'     pooling orientations either side, 0..N (1)
%     'ShiftStep'    pixels per pooling shift, a whole number (1)
%     'Saturation'   cap of every pooled value, not NaN (Inf: no cap)
%     'Rotations'    the rotations to try, a list of whole numbers of
%                    orientation steps of pi/N (0)
%     'MaxPeaks'     peaks listed per image at most, a whole number >= 0 (5)
%     'MinDistance'  least distance in pixels between two peaks, >= 0 (5)
%
%   Each orientation an element needs is pooled once per image over every
%   position an element reaches, then each placement adds its elements'
%   pooled values: about elements x placements additions per rotation, on
%   the threads of otk_threads, with the same bits for any thread count.
%   MAPS and TEMPLATE are never modified.
%
%   Errors (ids otk:<mnemonic>): as otk_score_template, and empty (no image,
%   orientation or pixel), badSize (an empty Rotations list), negative,
%   outOfMemory (ALL larger than the process may hold).
%
%   Example:
%     maps = zeros(9, 9, 4);  maps(3, 6, 1) = 1;   % one response at (3, 6)
%     tpl = otk_template(0, 4, 4);                 % one element at the centre
%     score = otk_score_map(maps, tpl, 'ShiftRange', 0);
%     [r, c] = find(score == max(score(:)))        % 3 6: the template found there
%
%   See also otk_score_template, otk_learn_template, otk_transform_template, otk_search_transform.

% This file holds the help and the tests of the compiled function of the
% same name. Run alone, without the compiled function beside it, it says so.
error('otk:notBuilt', ...
      'otk_score_map: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!function S = per_placement(maps, tpl, rot, opts)
%!  ## The plain reference: otk_score_template of the template moved by
%!  ## otk_transform_template, placement by placement.
%!  if iscell(maps)
%!    [nI, N] = size(maps);  [nR, nC] = size(maps{1});
%!  else
%!    [nR, nC, N, nI] = size(maps);
%!    nI = size(maps, 4);
%!  end
%!  cr = floor(nR / 2);  cc = floor(nC / 2);
%!  S = zeros(nR, nC, nI);
%!  for r = 1:nR
%!    for c = 1:nC
%!      t = struct('rowShift', r - cr, 'columnShift', c - cc, 'rotation', rot, 'orientations', N, 'centre', [cr cc]);
%!      S(r, c, :) = otk_score_template(maps, otk_transform_template(tpl, t), opts{:});
%!    end
%!  end
%!endfunction

%!function peaks = peaks_reference(best, rotation, maxPeaks, minDistance)
%!  ## Local maxima of each image, greedy by score, written out plainly.
%!  [nR, nC, nI] = size(best);
%!  peaks = zeros(0, 5);
%!  for i = 1:nI
%!    b = best(:, :, i);
%!    cand = [];
%!    for c = 1:nC
%!      for r = 1:nR
%!        v = b(r, c);
%!        ok = ~isnan(v);
%!        for dc = -1:1
%!          for dr = -1:1
%!            rr = r + dr;  ccol = c + dc;
%!            if (dr || dc) && rr >= 1 && rr <= nR && ccol >= 1 && ccol <= nC && b(rr, ccol) > v
%!              ok = false;
%!            end
%!          end
%!        end
%!        if ok
%!          cand(end + 1, :) = [r, c, v];
%!        end
%!      end
%!    end
%!    taken = zeros(0, 2);
%!    while size(cand, 1) > 0 && size(taken, 1) < maxPeaks
%!      [~, k] = max(cand(:, 3));
%!      r = cand(k, 1);  c = cand(k, 2);
%!      peaks(end + 1, :) = [i, r, c, rotation(r, c, i), cand(k, 3)];
%!      taken(end + 1, :) = [r, c];
%!      far = (cand(:, 1) - r).^2 + (cand(:, 2) - c).^2 >= minDistance^2;
%!      far(k) = false;
%!      cand = cand(far, :);
%!    end
%!  end
%!endfunction

%!test
%! ## Seeded random maps and template, pooled, three rotations: every
%! ## placement of every rotation is otk_score_template's score bit for bit,
%! ## from the array and from the cell grid.
%! seed = 3;  rand('seed', seed);
%! maps = rand(11, 9, 4, 2) - 0.2;
%! maps(2, 3, 1, 1) = NaN;
%! tpl = otk_template([0 1 3 2 1], [5 3 8 6 1], [4 7 2 5 9], [1 2 -1 0.5 1], [0.3 0.1 0.2 0 0.1]);
%! opts = {'ShiftRange', 1, 'OriRange', 1, 'Saturation', 0.9};
%! rots = [0 3 -5];
%! grid = cell(2, 4);
%! for i = 1:2
%!   for o = 1:4
%!     grid{i, o} = maps(:, :, o, i);
%!   end
%! end
%! [S, R, P, A] = otk_score_map(maps, tpl, opts{:}, 'Rotations', rots);
%! [S2, R2, P2, A2] = otk_score_map(grid, tpl, opts{:}, 'Rotations', rots);
%! assert (isequal (S, S2) && isequal (R, R2) && isequal (P, P2) && isequal (A, A2), 'seed %d: cell grid differs', seed);
%! assert (size (A), [11 9 3 2]);
%! for k = 1:3
%!   ref = per_placement(maps, tpl, rots(k), opts);
%!   assert (isequal (squeeze (A(:, :, k, :)), ref), 'seed %d: rotation %d differs', seed, rots(k));
%! end
%! [best, at] = max(A, [], 3);
%! assert (isequal (S, squeeze (best)) && isequal (R, rots(squeeze (at))), 'seed %d: best over rotations', seed);
%! assert (isequal (P, peaks_reference(S, R, 5, 5)), 'seed %d: peaks', seed);
%! assert (isequal (otk_score_map(maps, tpl, opts{:}, 'Rotations', rots), S));

%!test
%! ## Enough work for two threads: the same bits on one and on two, and
%! ## those of the placements one by one.
%! seed = 5;  rand('seed', seed);
%! maps = rand(40, 36, 8, 3);
%! n = 20;
%! tpl = otk_template(floor(8 * rand(1, n)), 5 + floor(30 * rand(1, n)), 5 + floor(26 * rand(1, n)), ...
%!                    rand(1, n), 0.5 * rand(1, n));
%! opts = {'ShiftRange', 2, 'OriRange', 1, 'Rotations', [0 4]};
%! before = otk_threads(1);
%! [S1, R1, P1, A1] = otk_score_map(maps, tpl, opts{:});
%! otk_threads(2);
%! [S2, R2, P2, A2] = otk_score_map(maps, tpl, opts{:});
%! otk_threads(before);
%! assert (isequal (S1, S2) && isequal (R1, R2) && isequal (P1, P2) && isequal (A1, A2), 'seed %d: threads', seed);
%! assert (isequal (squeeze (A1(:, :, 2, :)), per_placement(maps, tpl, 4, {'ShiftRange', 2, 'OriRange', 1})), ...
%!         'seed %d: rotation 4', seed);

%!test
%! ## 17 images of 64 x 64 x 16, every orientation needed: their pooled
%! ## maps are held some 15 images at a time, the last group smaller.
%! seed = 9;  rand('seed', seed);
%! maps = rand(64, 64, 16, 17);
%! tpl = otk_template(0:15, 10 + mod((0:15) * 7, 45), 10 + mod((0:15) * 11, 45), 1 - mod(0:15, 3) / 2, 0.1);
%! before = otk_threads(2);
%! S = otk_score_map(maps, tpl, 'OriRange', 2);
%! otk_threads(before);
%! assert (isequal (S, per_placement(maps, tpl, 0, {'OriRange', 2})), 'seed %d', seed);

%!test
%! ## Elements that reach far beyond the maps, a pooling reach of thousands
%! ## of pixels (placement by placement inside), a negative cap, NaN and
%! ## -Inf scores from the weights.
%! seed = 7;  rand('seed', seed);
%! maps = rand(6, 7, 3);
%! tpl = otk_template([0 2 1], [3 40 -2000], [4 -9 3], [1 Inf 2], [0 1 -Inf]);
%! for opts = {{'ShiftStep', 3000, 'ShiftRange', 1}, {'Saturation', -0.5}, {'ShiftStep', 0, 'ShiftRange', 1e6}}
%!   o = opts{1};
%!   [S, R, P, A] = otk_score_map(maps, tpl, o{:}, 'Rotations', [1 0]);
%!   for k = 1:2
%!     assert (isequaln (A(:, :, k), per_placement(maps, tpl, 2 - k, o)), 'seed %d', seed);
%!   end
%! end

%!test
%! ## The worked example of the help, and peaks of a plateau spaced out.
%! maps = zeros(9, 9, 4);  maps(3, 6, 1) = 1;
%! score = otk_score_map(maps, otk_template(0, 4, 4), 'ShiftRange', 0);
%! [r, c] = find(score == max(score(:)));
%! assert ([r c], [3 6]);
%! [~, ~, P] = otk_score_map(zeros(5, 8, 2), otk_template(0, 1, 1), 'MaxPeaks', 10, 'MinDistance', 3);
%! assert (P(:, 2:3), [1 1; 4 1; 1 4; 4 4; 1 7; 4 7]);
%! [~, ~, P] = otk_score_map(zeros(5, 8, 2), otk_template(0, 1, 1), 'MaxPeaks', 0);
%! assert (size (P), [0 5]);

%!error id=otk:empty otk_score_map(zeros(5, 5, 2, 0), otk_template(0, 1, 1))
%!error id=otk:badSize otk_score_map(zeros(5, 5, 2), otk_template(0, 1, 1), 'Rotations', [])
%!error id=otk:notInteger otk_score_map(zeros(5, 5, 2), otk_template(0, 1, 1), 'Rotations', 0.5)
%!error id=otk:negative otk_score_map(zeros(5, 5, 2), otk_template(0, 1, 1), 'MinDistance', -1)
%!error id=otk:notFinite otk_score_map(zeros(5, 5, 2), otk_template(0, 1, 1), 'MaxPeaks', NaN)
%!error id=otk:badOrientation otk_score_map(zeros(5, 5, 2), otk_template(2, 1, 1))
%!error id=otk:unknownOption otk_score_map(zeros(5, 5, 2), otk_template(0, 1, 1), 'Rotation', 1)
%!error id=otk:outOfMemory [a, b, c, d] = otk_score_map(zeros(1000, 1000), otk_template(0, 1, 1), 'Rotations', 1:1e6)
%!error id=otk:nargout [a, b, c, d, e] = otk_score_map(zeros(5, 5, 2), otk_template(0, 1, 1))

%!demo
%! ## A bar of responses, and a template of three elements along it: the
%! ## score map peaks where the template's centre lies on the bar's centre.
%! maps = zeros(15, 15, 4);
%! maps(5:9, 10, 1) = 1;
%! tpl = otk_template([0 0 0], [6 7 8], [7 7 7], 1, 0.5);
%! [score, rotation, peaks] = otk_score_map(maps, tpl, 'ShiftRange', 0, 'MaxPeaks', 1)
