function summary = toolbox_demo(outdir)
%TOOLBOX_DEMO  The whole toolbox at work on a photograph: learn, search, warp, saturate and detect, with a report.
%   SUMMARY = TOOLBOX_DEMO(OUTDIR) computes oriented responses of the
%   photograph in data/ at N = 16 orientations (otk_oriented_responses),
%   saturates them (otk_saturate), measures their density
%   (otk_response_density), learns a
%   template from shifted, noisy copies of the stack (otk_learn_template),
%   builds a batch of test maps from the response stack under known
%   rotations and shifts (otk_warp_stacks) plus noisy and unrelated maps,
%   scores the template on the batch
%   (otk_score_template), searches every test map for the transform that
%   undoes its warp (otk_search_transform), moves the template by each
%   answer (otk_transform_template) and warps the drawing of the match back
%   onto the photograph (otk_warp_maps). Last, it places the photograph's
%   object, turned, at a known position in a larger cluttered scene and
%   finds it there with otk_score_map.
%
%   OUTDIR (default: out/demo in the current folder) receives report.html,
%   which shows every step with its picture, caption and numbers, the table
%   of applied, expected and recovered transforms with the reason for each
%   expected answer, and summary.txt, the same table as text.
%
%   SUMMARY is a struct with the table (one row per test map), the pass and
%   fail counts, the detection (known and found placement and rotation, the
%   peaks) and the names of the pictures written.
%
%   See also otk_oriented_responses, otk_search_transform, otk_warp_stacks, otk_score_template, otk_learn_template, otk_score_map.

  if nargin < 1
    outdir = fullfile(pwd, 'out', 'demo');
  end
  if ~exist(outdir, 'dir')
    mkdir(outdir);
  end
  root = fileparts(fileparts(mfilename('fullpath')));
  clock0 = tic;
  logFile = fopen(fullfile(outdir, 'summary.txt'), 'w');
  cleanup = onCleanup(@() fclose(logFile));
  say = @(varargin) report_line(logFile, varargin{:});
  sections = {};
  pictures = {};

  % --- The photograph, reduced to 128 x 128 by 4 x 4 block means.
  photo = double(imread(fullfile(root, 'data', 'camera.png'))) / 255;
  if ndims(photo) == 3
    photo = mean(photo, 3);
  end
  photo = block_mean(photo, 4);
  [nRows, nCols] = size(photo);
  write_picture(fullfile(outdir, 'photo.png'), photo, 2);
  pictures{end + 1} = 'photo.png';
  sections{end + 1} = section('The photograph', 'photo.png', sprintf(['The CC0 photograph of data/, ' ...
    'reduced to %d x %d pixels. Rows run down, columns run right; row 1, column 1 is the top left.'], nRows, nCols));
  progress(clock0, 'photograph: %d x %d', nRows, nCols);

  % --- Oriented responses: N maps, one per orientation, scaled so that the
  % 99th percentile is 1. The stack is nRows x nCols x N.
  N = 16;
  raw = otk_oriented_responses(photo, N);
  sorted = sort(raw(:));
  level = sorted(round(0.99 * numel(sorted)));
  raw = raw / level;
  write_picture(fullfile(outdir, 'responses.png'), montage(raw(:, :, [1 5 9 13]), 4, 2), 2);
  pictures{end + 1} = 'responses.png';
  sections{end + 1} = section('Oriented responses', 'responses.png', sprintf(['Gabor energy at N = %d ' ...
    'orientations; shown, from left to right, orientations 0, 4, 8 and 12, that is 0, 45, 90 and 135 ' ...
    'degrees from the row axis toward the column axis: orientation 0 responds to lines running down the ' ...
    'picture, orientation 8 to lines running across.'], N));
  progress(clock0, 'responses: N = %d orientation maps', N);

  % --- Saturation, and the density of the saturated responses.
  saturation = 1.0;
  nBins = 20;
  binWidth = 0.05;
  margin = 8;
  sat = otk_saturate(raw, saturation);
  [density, binned, satAgain] = otk_response_density(raw, 'Saturation', saturation, 'Bins', nBins, ...
                                                      'BinWidth', binWidth, 'Margin', margin);
  summary.saturationAgrees = isequal(sat, satAgain);
  summary.densityIntegral = sum(density) * binWidth;
  write_picture(fullfile(outdir, 'saturated.png'), montage(sat(:, :, [1 5 9 13]), 4, 2), 2);
  plotted = plot_density(fullfile(outdir, 'density.png'), ((1:nBins) - 0.5) * binWidth, density, binned, margin);
  pictures = [pictures, {'saturated.png', 'density.png'}];
  sections{end + 1} = section('Saturation', 'saturated.png', sprintf(['otk_saturate: every response v ' ...
    'becomes s*tanh(v/s) with s = %g, so strong edges no longer drown the rest. Same orientations as above. ' ...
    'otk_response_density saturates the same way: the two agree bit for bit (%d).'], saturation, ...
    summary.saturationAgrees));
  how = 'plotted with Octave''s gnuplot toolkit';
  if exist('OCTAVE_VERSION', 'builtin') == 0
    how = 'plotted with MATLAB''s print';
  end
  if ~plotted
    how = 'drawn as plain bars without axes (no plotting here: install gnuplot-nox and fonts-freefont-otf)';
  end
  sections{end + 1} = section('Density of the saturated responses', 'density.png', sprintf(['%d bins of ' ...
    '%.2f from 0 to %g, counted over the interior of every map (a border of %d pixels left out): %d values. ' ...
    'The bars times the bin width sum to %.12f. The picture is %s.'], nBins, binWidth, nBins * binWidth, ...
    margin, binned, summary.densityIntegral, how));
  progress(clock0, 'saturation and density: %d values in %d bins, integral %.6f', binned, nBins, summary.densityIntegral);

  % --- A template learned from a few copies of the stack, each shifted by
  % up to a pixel and noisy: K strong, separated elements near the centre
  % (otk_learn_template pools each candidate, so the shifts do not blur it).
  jitter = [0 0; 1 0; 0 -1; -1 1; 1 1];
  randn('state', 3);
  examples = zeros(nRows, nCols, N, size(jitter, 1));
  for k = 1:size(jitter, 1)
    examples(:, :, :, k) = circshift(sat, jitter(k, :)) + 0.05 * randn(nRows, nCols, N);
  end
  tpl = otk_learn_template(examples, 30, 'Radius', 0.3 * nRows, 'Separation', 8, 'Saturation', saturation);
  K = numel(tpl.row);
  write_picture(fullfile(outdir, 'examples.png'), montage(max(examples(:, :, :, 1:4), [], 3), 4, 2), 2);
  pictures{end + 1} = 'examples.png';
  sections{end + 1} = section('Learning the template', 'examples.png', sprintf(['Four of the %d examples ' ...
    'otk_learn_template learned from: the saturated stack shifted by up to a pixel, with noise, each shown as ' ...
    'its strongest response over the orientations. Each candidate (row, column, orientation) is pooled over a ' ...
    'shift and a neighbouring orientation and averaged over the examples; the %d strongest within %.1f pixels ' ...
    'of the centre, at least 8 pixels apart, are the template, each with a bias of half its mean.'], ...
    size(jitter, 1), K, 0.3 * nRows));
  progress(clock0, 'template: %d elements learned from %d examples', K, size(jitter, 1));

  % --- The batch: the saturated stack warped by known transforms, noisy
  % copies of some, and stacks of unrelated pictures.
  cases = test_cases(N, nRows, nCols);
  nImages = numel(cases);
  source = zeros(nRows, nCols, N, nImages);
  for i = 1:nImages
    if strcmp(cases(i).kind, 'unrelated')
      source(:, :, :, i) = otk_saturate(unrelated_stack(photo, N, level, i), saturation);
    else
      source(:, :, :, i) = sat;
    end
  end
  batch = otk_warp_stacks(source, [cases.dX], [cases.dY], [cases.dO]);
  randn('state', 7);
  for i = find(strcmp({cases.kind}, 'noisy'))
    batch(:, :, :, i) = batch(:, :, :, i) + 0.05 * randn(nRows, nCols, N);
  end
  progress(clock0, 'batch: %d test stacks of %d orientations', nImages, N);

  % --- The template as it stands, scored and drawn on every test map.
  patches = bar_patches(N, 3);
  pool = {'ShiftRange', 1, 'OriRange', 1, 'Saturation', saturation, 'Patches', patches};
  [plainScores, ~, plainRenders] = otk_score_template(batch, tpl, pool{:});

  % --- The search. It pools without shifts: pooling over shifts would make
  % neighbouring search shifts score alike.
  answers = otk_search_transform(batch, tpl, 'Saturation', saturation);
  bestScores = [answers.score]';
  recovered = [[answers.rowShift]', [answers.columnShift]', [answers.rotation]'];
  progress(clock0, 'search: %d candidates per test map', 9 * ceil(N / 2));

  % --- The table: a related map passes when the recovered transform is the
  % expected one; an unrelated map passes when its best score stays below
  % half of the untouched map's.
  accept = 0.5 * bestScores(1);
  passed = false(nImages, 1);
  c0 = [floor(nRows / 2), floor(nCols / 2)];
  intro = sprintf(['The stacks were warped by otk_warp_stacks about (%d, %d) counted from 0; the search turns\n' ...
                   'the template about (%d, %d) counted from 1, that is (%d, %d) counted from 0: the centres\n' ...
                   'are e = (1, 1) apart. A warp by the rotation theta = dO*180/%d degrees and the shift\n' ...
                   'd = (dX, dY) is undone by the search rotation r = mod(-dO, %d) and the shift\n' ...
                   '(s, t) = e - R(-theta)(e + d), R turning from the row axis toward the column axis;\n' ...
                   'the search has an answer where (s, t) is whole and in -1..1 (docs/geometry.md).'], ...
                  c0, c0, c0 - 1, N, 2 * N);
  say('%s\n', intro);
  say('\n%-3s %-9s %12s %12s %12s %8s %8s  %-6s %s\n', '#', 'kind', 'applied', 'expected', 'recovered', ...
      'score', 'as is', 'result', 'why this answer');
  say('%-3s %-9s %12s %12s %12s %8s %8s\n', '', '', '(dX,dY,dO)', '(s,t,r)', '(s,t,r)', '', '');
  rows = cell(nImages, 1);
  for i = 1:nImages
    c = cases(i);
    if strcmp(c.kind, 'unrelated')
      passed(i) = bestScores(i) < accept;
      expected = 'no match';
      why = sprintf('another picture: its best score must stay below %.3f', accept);
    else
      passed(i) = isequal(recovered(i, :), c.expected) && bestScores(i) >= accept;
      expected = triple(c.expected);
      why = sprintf('turned back by r = mod(%d, %d) = %d; R(-%g deg)(e + d) = (%.2f, %.2f), so (s, t) = (%.2f, %.2f)', ...
                    -c.dO, 2 * N, c.expected(3), c.dO * 180 / N, c.turned + 0, c.exact + 0);
    end
    verdict = 'FAIL';
    if passed(i)
      verdict = 'pass';
    end
    say('%-3d %-9s %12s %12s %12s %8.3f %8.3f  %-6s %s\n', i, c.kind, triple([c.dX, c.dY, c.dO]), expected, ...
        triple(recovered(i, :)), bestScores(i), plainScores(i), verdict, why);
    rows{i} = {i, c.kind, triple([c.dX, c.dY, c.dO]), expected, triple(recovered(i, :)), ...
               sprintf('%.3f', bestScores(i)), sprintf('%.3f', plainScores(i)), verdict, why};
  end
  summary.passCount = sum(passed);
  summary.failCount = nImages - summary.passCount;
  say('\n%d passed, %d failed (acceptance score %.3f)\n\n', summary.passCount, summary.failCount, accept);

  % --- The template moved by each answer, scored and drawn again, and the
  % drawing warped back onto the photograph.
  aligned = zeros(nRows, nCols, nImages);
  alignedScores = zeros(nImages, 1);
  for i = 1:nImages
    if isnan(answers(i).rotation)
      continue;
    end
    moved = otk_transform_template(tpl, answers(i));
    [alignedScores(i), ~, aligned(:, :, i)] = otk_score_template(batch(:, :, :, i), moved, pool{:});
  end
  related = find(~strcmp({cases.kind}, 'unrelated'));
  [bX, bY, bO] = inverse_warp(cases(related), N);
  back = otk_warp_maps(aligned(:, :, related), bX, bY, bO, N);
  hits = zeros(numel(related), 1);
  for j = 1:numel(related)
    drawing = back(:, :, j);
    hits(j) = mean(drawing(sub2ind([nRows, nCols], tpl.row, tpl.column)) > 0);
  end
  summary.templateCoverage = hits;
  show = related([1 3 5 7]);
  write_picture(fullfile(outdir, 'testmaps.png'), montage(max(batch(:, :, :, show), [], 3), 4, 2), 2);
  write_picture(fullfile(outdir, 'renders_as_is.png'), montage(plainRenders(:, :, show), 4, 2), 2);
  write_picture(fullfile(outdir, 'renders.png'), montage(aligned(:, :, show), 4, 2), 2);
  write_overlay(fullfile(outdir, 'overlay.png'), photo, back(:, :, end), 2);
  pictures = [pictures, {'testmaps.png', 'renders_as_is.png', 'renders.png', 'overlay.png'}];
  shown = strjoin(arrayfun(@(i) sprintf('#%d %s', i, triple([cases(i).dX, cases(i).dY, cases(i).dO])), ...
                  show, 'UniformOutput', false), ', ');
  sections{end + 1} = section('Test maps', 'testmaps.png', sprintf(['Test maps %s (applied (dX, dY, dO)), ' ...
    'each shown as the strongest response over its %d orientations. otk_warp_stacks turns the picture ' ...
    'clockwise on screen for a positive dO and moves the orientation channels along.'], shown, N));
  sections{end + 1} = section('The template as it stands', 'renders_as_is.png', sprintf(['The %d-element ' ...
    'template drawn by otk_score_template where each element found its best response, on the same test ' ...
    'maps, without moving the template: only the untouched map shows it whole.'], K));
  sections{end + 1} = section('The template moved by the search answers', 'renders.png', ['The template ' ...
    'moved by otk_transform_template with each map''s search answer, scored and drawn again: it lies on ' ...
    'the turned structure.']);
  sections{end + 1} = section('Back on the photograph', 'overlay.png', sprintf(['The drawing of the last ' ...
    'related map (%s) warped back by otk_warp_maps with the inverse rotation and shift, in red on the ' ...
    'photograph: it covers %.0f%% of the template''s elements (over all related maps: %.0f%%).'], ...
    triple([cases(related(end)).dX, cases(related(end)).dY, cases(related(end)).dO]), 100 * hits(end), ...
    100 * mean(hits)));
  progress(clock0, 'moved templates and the drawing warped back: %.0f%% of the elements found again', 100 * mean(hits));

  % --- Detection: the photograph's object turned by a known rotation and
  % placed at a known position in a scene twice as large, cluttered with
  % mirror images of the photograph (which no rotation matches), found
  % there by otk_score_map. The template's centre, the photograph's pixel
  % (floor(nRows/2), floor(nCols/2)), is moved onto the scene's centre,
  % about which otk_score_map turns it; placement (r, c) then puts it on
  % scene pixel (r, c).
  nScene = 2 * nRows;
  sc = floor(nScene / 2);
  known = [150, 92, 6];  % row, column, rotation in steps of pi/N
  scene = cluttered_scene(photo, nScene, known, N);
  sceneSat = otk_saturate(otk_oriented_responses(scene, N) / level, saturation);
  sceneTpl = tpl;
  sceneTpl.row = tpl.row + (sc - floor(nRows / 2));
  sceneTpl.column = tpl.column + (sc - floor(nCols / 2));
  rotations = 0:2:2 * N - 1;
  [best, ~, peaks] = otk_score_map(sceneSat, sceneTpl, 'Rotations', rotations, 'Saturation', saturation, ...
                                   'MaxPeaks', 3, 'MinDistance', 20);
  found = peaks(1, 2:4);
  moved = otk_transform_template(sceneTpl, struct('rowShift', found(1) - sc, 'columnShift', found(2) - sc, ...
                                                  'rotation', found(3), 'orientations', N, 'centre', [sc sc]));
  [~, ~, drawing] = otk_score_template(sceneSat, moved, pool{:});
  write_picture(fullfile(outdir, 'scoremap.png'), best, 2);
  write_overlay(fullfile(outdir, 'detection.png'), scene, drawing, 2);
  pictures = [pictures, {'scoremap.png', 'detection.png'}];
  summary.detection = struct('known', known, 'found', found, 'score', peaks(1, 5), 'peaks', peaks);
  others = '';
  for k = 2:size(peaks, 1)
    others = [others, sprintf('; next: (%d, %d), rotation %d, score %.3f', peaks(k, 2:5))]; %#ok<AGROW>
  end
  sections{end + 1} = section('Score map of a cluttered scene', 'scoremap.png', sprintf(['otk_score_map on a ' ...
    '%d x %d scene: the best score of the template over %d rotations (every 2 steps of %d, %.1f degrees each) at ' ...
    'every placement, brighter for higher. The object was placed with its centre on (%d, %d), turned by %d steps; ' ...
    'the rest of the scene is mirror images of the photograph.'], nScene, nScene, numel(rotations), ...
    2 * N, 180 / N, known));
  sections{end + 1} = section('Detection', 'detection.png', sprintf(['The best peak of the score map: ' ...
    'placement (%d, %d), rotation %d, score %.3f (known answer: (%d, %d), rotation %d)%s. In red, the template ' ...
    'moved there by otk_transform_template and drawn by otk_score_template where its elements matched.'], ...
    found, peaks(1, 5), known, others));
  say('detection: known (%d, %d) rotation %d; found (%d, %d) rotation %d, score %.3f%s\n', known, found, ...
      peaks(1, 5), others);
  progress(clock0, 'detection in a %d x %d scene: found (%d, %d), rotation %d (known (%d, %d), %d)', ...
           nScene, nScene, found, known);

  summary.cases = cases;
  summary.recovered = recovered;
  summary.bestScores = bestScores;
  summary.plainScores = plainScores;
  summary.alignedScores = alignedScores;
  summary.passed = passed;
  summary.pictures = pictures;
  summary.outdir = outdir;
  summary.densityPlotted = plotted;
  say('saturation by otk_saturate and otk_response_density agree bit for bit: %d\n', summary.saturationAgrees);
  say('density integrates to %.12f\n', summary.densityIntegral);
  say('pictures in %s: %s\n', outdir, strjoin(pictures, ', '));
  say('report: %s\n', fullfile(outdir, 'report.html'));
  say('total %.2f s\n', toc(clock0));
  write_report(fullfile(outdir, 'report.html'), sections, rows, summary, accept, intro);
end

function report_line(logFile, varargin)
  fprintf(varargin{:});
  fprintf(logFile, varargin{:});
end

function progress(clock0, varargin)
  fprintf('[%6.2f s] %s\n', toc(clock0), sprintf(varargin{:}));
end

function t = triple(v)
  t = sprintf('(%d,%d,%d)', v);
end

function s = section(title, picture, caption)
  s = struct('title', title, 'picture', picture, 'caption', caption);
end

function m = block_mean(img, f)
  [h, w] = size(img);
  h = floor(h / f) * f;
  w = floor(w / f) * f;
  img = img(1:h, 1:w);
  m = zeros(h / f, w / f);
  for a = 1:f
    for b = 1:f
      m = m + img(a:f:h, b:f:w);
    end
  end
  m = m / (f * f);
end

function scene = cluttered_scene(photo, n, known, N)
% An n x n scene: mirror images of the photograph (no rotation of the
% photograph matches a mirror image), with noise, and a disc of the
% photograph about its centre turned by known(3) steps of pi/N, its centre
% placed on (known(1), known(2)): scene pixel p shows the photograph at
% c + R(-theta)(p - known), c its centre.
  [h, w] = size(photo);
  scene = [fliplr(photo), flipud(photo); circshift(flipud(photo), [37 0]), rot90(fliplr(photo))];
  scene = scene(1:n, 1:n);
  theta = pi * known(3) / N;
  [cols, rows] = meshgrid(1:n, 1:n);
  dr = rows - known(1);
  dc = cols - known(2);
  % R(-theta) applied to (dr, dc), turning from the row axis toward the column axis.
  u = cos(theta) * dr + sin(theta) * dc;
  v = -sin(theta) * dr + cos(theta) * dc;
  disc = u.^2 + v.^2 <= 48^2;
  values = interp2(photo, floor(w / 2) + v(disc), floor(h / 2) + u(disc), 'linear');
  scene(disc) = values;
  randn('state', 11);
  scene = scene + 0.03 * randn(n, n);
end

function cases = test_cases(N, nRows, nCols)
% Known transforms: rotations by multiples of 4 orientation steps with
% shifts for which the search has a whole answer. At odd multiples of 45
% degrees only the shift (-1, -1), which turns the stack about the search's
% own centre, has one.
  plan = {
    'clean', 0, [0 0]
    'clean', 0, [1 -1]
    'clean', 4, [-1 -1]
    'clean', 8, [-2 0]
    'clean', 8, [-1 0]
    'clean', 12, [-1 -1]
    'clean', 16, [-2 -2]
    'clean', 16, [-1 -2]
    'clean', 20, [-1 -1]
    'clean', 24, [0 -2]
    'clean', 24, [1 -2]
    'clean', 28, [-1 -1]
    'noisy', 0, [0 0]
    'noisy', 8, [-1 0]
    'noisy', 16, [-2 -2]
    'noisy', 24, [0 -1]
    'unrelated', 0, [0 0]
    'unrelated', 8, [0 0]
  };
  cases = struct('kind', {}, 'dX', {}, 'dY', {}, 'dO', {}, 'expected', {}, 'turned', {}, 'exact', {});
  for i = 1:size(plan, 1)
    cases(i).kind = plan{i, 1};
    cases(i).dX = plan{i, 3}(1);
    cases(i).dY = plan{i, 3}(2);
    cases(i).dO = plan{i, 2};
    cases(i).expected = [NaN, NaN, NaN];
    if ~strcmp(plan{i, 1}, 'unrelated')
      [cases(i).expected, cases(i).turned, cases(i).exact] = expected_search(N, plan{i, 2}, plan{i, 3});
    end
  end
end

function [expected, turned, exact] = expected_search(N, dO, d)
% The warps turn about the centre floor(n/2) counted from 0, the search
% about floor(n/2) counted from 1: one pixel apart on each axis (e). The
% search undoes a warp by (d, theta) with the rotation -theta and the
% shift e - R(-theta)(e + d), which must be close to whole.
  theta = pi * dO / N;
  e = [1; 1];
  turned = turn(-theta) * (e + d(:));
  exact = e - turned;
  expected = [round(exact'), mod(-dO, 2 * N)];
  if max(abs(exact - round(exact))) > 0.3 || any(abs(round(exact)) > 1)
    error('toolbox_demo:case', 'no whole search shift for rotation %d and shift (%d, %d)', dO, d);
  end
end

function R = turn(theta)
% Turns from the row axis toward the column axis.
  R = [cos(theta), -sin(theta); sin(theta), cos(theta)];
end

function [bX, bY, bO] = inverse_warp(cases, N)
% The warp that takes a drawing made on a test map back to the photograph's
% frame: both turn about the same centre, so it is the inverse rotation and
% the shift -R(-theta) d, rounded.
  bX = zeros(1, numel(cases));
  bY = zeros(1, numel(cases));
  bO = zeros(1, numel(cases));
  for j = 1:numel(cases)
    s = -turn(-pi * cases(j).dO / N) * [cases(j).dX; cases(j).dY];
    bX(j) = round(s(1));
    bY(j) = round(s(2));
    bO(j) = -cases(j).dO;
  end
end

function stack = unrelated_stack(photo, N, level, seed)
% Responses of the photograph turned over and shifted: the same kind of
% structure, in places that have nothing to do with the template.
  img = rot90(photo, 1 + mod(seed, 2));
  img = circshift(img, [17 * seed, 29 * seed]);
  stack = otk_oriented_responses(img, N) / level;
end

function patches = bar_patches(N, half)
% A short bar along each orientation, for drawing: (2*half+1)^2 x N.
  [c, r] = meshgrid(-half:half, -half:half);
  patches = zeros(2 * half + 1, 2 * half + 1, N);
  for k = 0:N-1
    theta = pi * k / N;
    patches(:, :, k + 1) = max(0, 1 - abs(-r * sin(theta) + c * cos(theta)));
  end
end

function m = montage(maps, columns, gap)
% Tiles the maps(:,:,k), each stretched to its own range, white between.
  [h, w, n] = size(maps);
  rows = ceil(n / columns);
  m = ones(rows * (h + gap) - gap, columns * (w + gap) - gap);
  for k = 1:n
    tile = maps(:, :, k);
    lo = min(tile(:));
    hi = max(tile(:));
    if hi > lo
      tile = (tile - lo) / (hi - lo);
    else
      tile = zeros(h, w);
    end
    r = floor((k - 1) / columns);
    c = mod(k - 1, columns);
    m(r * (h + gap) + (1:h), c * (w + gap) + (1:w)) = tile;
  end
end

function write_picture(file, m, scale)
% A map as an 8-bit grey picture, stretched to its range, enlarged.
  lo = min(m(:));
  hi = max(m(:));
  if hi > lo
    m = (m - lo) / (hi - lo);
  else
    m = zeros(size(m));
  end
  imwrite(uint8(round(255 * kron(m, ones(scale)))), file);
end

function write_overlay(file, photo, drawing, scale)
% The photograph in grey with the drawing in red on top.
  if max(drawing(:)) > 0
    drawing = drawing / max(drawing(:));
  end
  grey = 0.75 * photo;
  rgb = cat(3, max(grey, drawing), grey .* (1 - drawing), grey .* (1 - drawing));
  rgb = rgb(kron(1:size(rgb, 1), ones(1, scale)), kron(1:size(rgb, 2), ones(1, scale)), :);
  imwrite(uint8(round(255 * rgb)), file);
end

function plotted = plot_density(file, centres, density, count, margin)
% The density as a bar plot with axes, printed without a display: Octave's
% gnuplot toolkit with gnuplot's cairo PNG terminal, or MATLAB's print.
% Where no plot can be made, plain bars without axes are written instead.
  plotted = false;
  inOctave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
  state = warning('off', 'all');
  restore = onCleanup(@() warning(state));
  try
    if inOctave
      if isempty(file_in_path(getenv('PATH'), 'gnuplot')) || ~any(strcmp(available_graphics_toolkits(), 'gnuplot'))
        error('toolbox_demo:noPlot', 'no gnuplot');
      end
      previous = graphics_toolkit();
      graphics_toolkit('gnuplot');
      back = onCleanup(@() graphics_toolkit(previous));
    end
    f = figure('visible', 'off');
    closeFigure = onCleanup(@() close(f));
    bar(centres, density, 1);
    xlabel('saturated response');
    ylabel('density');
    title(sprintf('%d values, border of %d left out', count, margin));
    if inOctave
      print(f, file, '-dpngcairo', '-r80');
    else
      print(f, file, '-dpng', '-r80');
    end
    plotted = exist(file, 'file') == 2;
  catch
    plotted = false;
  end
  if ~plotted
    bars(file, density, 12, 160);
  end
end

function bars(file, heights, barWidth, height)
% Non-negative bar heights as a picture: dark bars on white.
  n = numel(heights);
  picture = ones(height, n * barWidth);
  top = max(heights);
  if ~(top > 0)
    top = 1;
  end
  for b = 1:n
    h = round((height - 2) * heights(b) / top);
    if h > 0
      picture(height - h + 1:height, (b - 1) * barWidth + (2:barWidth - 1)) = 0.2;
    end
  end
  imwrite(uint8(round(255 * picture)), file);
end

function write_report(file, sections, rows, summary, accept, explanation)
% report.html: every step with its picture and caption, and the table.
  fid = fopen(file, 'w');
  closer = onCleanup(@() fclose(fid));
  fprintf(fid, ['<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>Oriented template toolbox ' ...
                'demo</title>\n<style>body{font-family:sans-serif;max-width:60em;margin:auto} ' ...
                'figure{margin:1em 0} figcaption{color:#333} table{border-collapse:collapse;font-size:90%%} ' ...
                'td,th{border:1px solid #bbb;padding:2px 6px} .FAIL{background:#fcc}</style></head><body>\n']);
  fprintf(fid, '<h1>Oriented template toolbox demo</h1>\n');
  fprintf(fid, ['<p>%d test maps, <b>%d passed, %d failed</b>. A related map passes when the search ' ...
                'recovers the expected transform with a score of at least %.3f (half the untouched map''s); ' ...
                'an unrelated map passes when its best score stays below that.</p>\n'], ...
          numel(rows), summary.passCount, summary.failCount, accept);
  for k = 1:numel(sections)
    s = sections{k};
    fprintf(fid, '<h2>%s</h2>\n<figure><img src="%s" alt="%s"><figcaption>%s</figcaption></figure>\n', ...
            s.title, s.picture, s.title, html(s.caption));
    if strcmp(s.title, 'Learning the template')
      fprintf(fid, '<h2>Applied, expected and recovered transforms</h2>\n<pre>%s</pre>\n', html(explanation));
      fprintf(fid, ['<table><tr><th>#</th><th>kind</th><th>applied (dX,dY,dO)</th><th>expected (s,t,r)</th>' ...
                    '<th>recovered (s,t,r)</th><th>best score</th><th>score as is</th><th>result</th>' ...
                    '<th>why this answer</th></tr>\n']);
      for r = 1:numel(rows)
        v = rows{r};
        fprintf(fid, '<tr class="%s"><td>%d</td>', v{8}, v{1});
        fprintf(fid, '<td>%s</td>', v{2:end});
        fprintf(fid, '</tr>\n');
      end
      fprintf(fid, '</table>\n');
    end
  end
  fprintf(fid, '</body></html>\n');
end

function t = html(t)
  t = strrep(strrep(strrep(t, '&', '&amp;'), '<', '&lt;'), '>', '&gt;');
end

%!test
%! ## The demo's own claims: every related map gets its transform back,
%! ## the unrelated ones find no match, and the report is written.
%! outdir = tempname ();
%! unwind_protect
%!   evalc ('s = toolbox_demo (outdir);');
%!   assert (s.failCount, 0);
%!   assert (exist (fullfile (outdir, 'report.html'), 'file'), 2);
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir (false, 'local');
%!   rmdir (outdir, 's');
%! end_unwind_protect

%!demo
%! ## Runs the whole demo into a temporary folder and names the report.
%! outdir = fullfile (tempdir (), 'orientkit-demo');
%! s = toolbox_demo (outdir);
%! printf ('open %s\n', fullfile (outdir, 'report.html'));
