function summary = toolbox_demo(outdir)
% TOOLBOX_DEMO  The whole toolbox at work on a photograph.
%   SUMMARY = TOOLBOX_DEMO(OUTDIR) computes oriented responses of the
%   photograph in data/ at N = 16 orientations, saturates them (Fenwold),
%   measures their density (Porrith), takes a template from the strongest
%   responses, builds a batch of test maps from the response stack under
%   known rotations and shifts (Mundle) plus noisy and unrelated maps, scores
%   the template on the batch and draws it (Halvery), recovers every applied
%   transform (Wendlow) and warps the matched drawing back onto the photograph
%   (Sabrel). Pictures, a summary and the table of applied versus recovered
%   transforms go to OUTDIR (default: out/demo in the current folder).
%
%   SUMMARY is a struct with the table (one row per test map), the pass and
%   fail counts and the names of the pictures written.
%
%   See also Halvery, Wendlow, Sabrel, Mundle, Fenwold, Porrith.

  if nargin < 1
    outdir = fullfile(pwd, 'out', 'demo');
  end
  if ~exist(outdir, 'dir')
    mkdir(outdir);
  end
  here = fileparts(mfilename('fullpath'));
  root = fileparts(here);
  clock0 = tic;
  logFile = fopen(fullfile(outdir, 'summary.txt'), 'w');
  cleanup = onCleanup(@() fclose(logFile));
  say = @(varargin) report(logFile, varargin{:});
  pictures = {};

  % --- The photograph, reduced to 128 x 128 by 4 x 4 block means.
  t = tic;
  photo = double(imread(fullfile(root, 'data', 'camera.png'))) / 255;
  if ndims(photo) == 3
    photo = mean(photo, 3);
  end
  photo = block_mean(photo, 4);
  [nRows, nCols] = size(photo);
  demo_picture(fullfile(outdir, 'photo.png'), photo, 2);
  pictures{end + 1} = 'photo.png';
  progress(t, clock0, 'photograph: %d x %d', nRows, nCols);

  % --- Oriented responses at N = 16 orientations, scaled so that the 99th
  % percentile is 1.
  t = tic;
  N = 16;
  raw = demo_oriented_responses(photo, N);
  sorted = sort(cell2mat(cellfun(@(m) m(:), raw, 'UniformOutput', false)));
  level = sorted(round(0.99 * numel(sorted)));
  for k = 1:N
    raw{k} = raw{k} / level;
  end
  demo_picture(fullfile(outdir, 'responses.png'), demo_montage(raw([1 5 9 13]), 4, 2), 2);
  pictures{end + 1} = 'responses.png';
  progress(t, clock0, 'responses: N = %d orientation maps', N);

  % --- Fenwold saturates a fresh copy in place; Porrith saturates another
  % copy and histograms the interior into a density.
  t = tic;
  saturation = 1.0;
  sat = fresh_copy(raw);
  Fenwold(1, N, sat, nRows, nCols, saturation);
  forDensity = fresh_copy(raw);
  nBins = 20;
  binWidth = 0.05;
  margin = 8;
  density = zeros(1, nBins);
  Porrith(1, N, forDensity, margin, nRows, nCols, binWidth, nBins, density, saturation);
  summary.saturationAgrees = isequal(sat, forDensity);
  summary.densityIntegral = sum(density) * binWidth;
  demo_picture(fullfile(outdir, 'saturated.png'), demo_montage(sat([1 5 9 13]), 4, 2), 2);
  demo_bar_chart(fullfile(outdir, 'density.png'), density, 12, 160);
  pictures = [pictures, {'saturated.png', 'density.png'}];
  progress(t, clock0, 'saturation and density: %d bins of %.2f, integral %.6f', nBins, binWidth, ...
           summary.densityIntegral);

  % --- A template of K strong, separated responses near the centre.
  t = tic;
  K = 30;
  tpl = demo_pick_template(sat, K, 0.3 * nRows, 8);
  K = numel(tpl.x);
  progress(t, clock0, 'template: %d elements', K);

  % --- The batch: the saturated stack warped by Mundle under known
  % transforms, noisy copies of some, and unrelated maps.
  t = tic;
  cases = test_cases(N, nRows);
  nImages = numel(cases);
  source = cell(nImages, N);
  for i = 1:nImages
    if strcmp(cases(i).kind, 'unrelated')
      source(i, :) = unrelated_stack(photo, N, level, saturation, i);
    else
      source(i, :) = sat;
    end
  end
  batch = cell(nImages, N);
  for k = 1:numel(batch)
    batch{k} = zeros(nRows, nCols);
  end
  Mundle(nImages, N, source, batch, nRows, nCols, [cases.dX], [cases.dY], [cases.dO]);
  rng(7);
  for i = 1:nImages
    if strcmp(cases(i).kind, 'noisy')
      for k = 1:N
        batch{i, k} = batch{i, k} + 0.05 * randn(nRows, nCols);
      end
    end
  end
  progress(t, clock0, 'batch: %d test maps of %d orientations', nImages, N);

  % --- Halvery scores the template as it stands on every test map.
  t = tic;
  patchHalf = 3;
  patches = bar_patches(N, patchHalf);
  pool = struct('shiftRange', 1, 'oriRange', 1, 'shiftStep', 1);
  [plainScores, plainRenders] = score_template(batch, tpl, patches, patchHalf, pool, saturation);
  progress(t, clock0, 'Halvery: template scored on %d maps', nImages);

  % --- Wendlow recovers the transform of every test map. It pools without
  % shifts: pooling over shifts would make neighbouring search shifts score
  % alike, and the search could not tell them apart.
  t = tic;
  search = struct('shiftRange', 0, 'oriRange', 0, 'shiftStep', 1);
  bestScores = zeros(nImages, 1);
  bestX = zeros(nImages, 1);
  bestY = zeros(nImages, 1);
  bestO = zeros(nImages, 1);
  Wendlow(nImages, N, batch, cell(N, N), patchHalf, nRows, nCols, 0, tpl.ori, tpl.x, tpl.y, ...
          tpl.weight, tpl.bias, patches, cell(nImages, 1), search.shiftRange, search.oriRange, ...
          search.shiftStep, K, saturation, bestScores, 0, 0, 0, 0, 0, bestX, bestY, bestO);
  progress(t, clock0, 'Wendlow: %d candidates per map searched', 9 * ceil(N / 2));

  % --- The table: a related map passes when the recovered transform is the
  % expected one; an unrelated map passes when its best score stays below
  % half of the untouched map's.
  accept = 0.5 * bestScores(1);
  passed = false(nImages, 1);
  say('\n%-4s %-10s %13s %13s %13s %9s %9s  %s\n', '#', 'kind', 'applied', 'expected', ...
      'recovered', 'score', 'as is', 'result');
  say('%-4s %-10s %13s %13s %13s %9s %9s\n', '', '', '(dX,dY,dO)', '(s,t,r)', '(s,t,r)', '', '');
  for i = 1:nImages
    c = cases(i);
    got = [bestX(i), bestY(i), bestO(i)];
    if strcmp(c.kind, 'unrelated')
      passed(i) = bestScores(i) < accept;
      expected = '  no match';
    else
      passed(i) = isequal(got, c.expected) && bestScores(i) >= accept;
      expected = sprintf('(%2d,%2d,%2d)', c.expected);
    end
    verdict = 'FAIL';
    if passed(i)
      verdict = 'pass';
    end
    say('%-4d %-10s %13s %13s %13s %9.3f %9.3f  %s\n', i, c.kind, ...
        sprintf('(%2d,%2d,%2d)', c.dX, c.dY, c.dO), expected, sprintf('(%2d,%2d,%2d)', got), ...
        bestScores(i), plainScores(i), verdict);
  end
  summary.passCount = sum(passed);
  summary.failCount = nImages - summary.passCount;
  say('\n%d passed, %d failed (acceptance score %.3f)\n\n', summary.passCount, summary.failCount, accept);

  % --- The template moved by each recovered transform, scored and drawn
  % again by Halvery, and Sabrel turning the drawing back onto the photograph.
  t = tic;
  aligned = cell(nImages, 1);
  alignedScores = zeros(nImages, 1);
  cRow = floor(nRows / 2);
  cCol = floor(nCols / 2);
  for i = 1:nImages
    moved = tpl;
    [moved.x, moved.y, moved.ori] = demo_transform_points(N, cRow, cCol, tpl.x, tpl.y, tpl.ori, ...
                                                          bestX(i), bestY(i), bestO(i));
    [alignedScores(i), r] = score_template(batch(i, :), moved, patches, patchHalf, pool, saturation);
    aligned{i} = r{1};
  end
  related = find(~strcmp({cases.kind}, 'unrelated'));
  back = cell(numel(related), 1);
  for j = 1:numel(related)
    back{j} = zeros(nRows, nCols);
  end
  [bX, bY, bO] = inverse_warp(cases(related), N);
  Sabrel(numel(related), N, aligned(related), back, nRows, nCols, bX, bY, bO);
  hits = zeros(numel(related), 1);
  for j = 1:numel(related)
    hits(j) = mean(back{j}(sub2ind([nRows, nCols], tpl.x, tpl.y)) > 0);
  end
  summary.templateCoverage = hits;
  show = related(1:min(4, numel(related)));
  demo_picture(fullfile(outdir, 'testmaps.png'), demo_montage(stack_energy(batch(show, :)), 4, 2), 2);
  demo_picture(fullfile(outdir, 'renders.png'), demo_montage(aligned(show), 4, 2), 2);
  demo_picture(fullfile(outdir, 'renders_as_is.png'), demo_montage(plainRenders(show), 4, 2), 2);
  write_overlay(fullfile(outdir, 'overlay.png'), photo, back{numel(back)}, 2);
  pictures = [pictures, {'testmaps.png', 'renders.png', 'renders_as_is.png', 'overlay.png'}];
  progress(t, clock0, 'aligned drawing and Sabrel warp back: template found again at %.0f%% of its elements', ...
           100 * mean(hits));

  summary.cases = cases;
  summary.recovered = [bestX, bestY, bestO];
  summary.bestScores = bestScores;
  summary.plainScores = plainScores;
  summary.alignedScores = alignedScores;
  summary.passed = passed;
  summary.pictures = pictures;
  summary.outdir = outdir;
  say('saturation by Fenwold and Porrith agree bit for bit: %d\n', summary.saturationAgrees);
  say('density integrates to %.12f\n', summary.densityIntegral);
  say('pictures in %s: %s\n', outdir, strjoin(pictures, ', '));
  say('total %.2f s\n', toc(clock0));
end

function report(logFile, varargin)
  fprintf(varargin{:});
  fprintf(logFile, varargin{:});
end

function progress(t, clock0, varargin)
  fprintf('[%6.2f s, stage %5.2f s] %s\n', toc(clock0), toc(t), sprintf(varargin{:}));
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

function out = fresh_copy(maps)
% Each map in a new block of its own: results written in place must not
% reach the variables the maps came from.
  out = cell(size(maps));
  for k = 1:numel(maps)
    out{k} = maps{k} + 0;
  end
end

function cases = test_cases(N, nRows)
% Known transforms: rotations by multiples of 4 orientation steps with
% shifts for which the search has a whole answer (see expected_search). At
% odd multiples of 45 degrees only the shift (-1, -1), which turns the stack
% about the search's own centre, has one.
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
  cases = struct('kind', {}, 'dX', {}, 'dY', {}, 'dO', {}, 'expected', {});
  for i = 1:size(plan, 1)
    cases(i).kind = plan{i, 1};
    cases(i).dX = plan{i, 3}(1);
    cases(i).dY = plan{i, 3}(2);
    cases(i).dO = plan{i, 2};
    cases(i).expected = [NaN, NaN, NaN];
    if ~strcmp(plan{i, 1}, 'unrelated')
      cases(i).expected = expected_search(N, nRows, plan{i, 2}, plan{i, 3});
    end
  end
end

function expected = expected_search(N, nRows, dO, d)
% Mundle turns a stack about the 0-based centre floor(n/2), the search turns
% a template about the 1-based centre floor(n/2): one pixel apart on each
% axis (e). The search undoes a warp by (d, theta) with the rotation -theta
% and the shift e - R(-theta)(e + d), which must be close to whole.
  theta = pi * dO / N;
  e = [1; 1];
  s = e - turn(-theta) * (e + d(:));
  expected = [round(s'), mod(-dO, 2 * N)];
  if nRows < 1 || max(abs(s - round(s))) > 0.3 || any(abs(round(s)) > 1)
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
    theta = pi * cases(j).dO / N;
    s = -turn(-theta) * [cases(j).dX; cases(j).dY];
    bX(j) = round(s(1));
    bY(j) = round(s(2));
    bO(j) = -cases(j).dO;
  end
end

function stack = unrelated_stack(photo, N, level, saturation, seed)
% Responses of the photograph turned over and shifted: the same kind of
% structure, in places that have nothing to do with the template.
  img = rot90(photo, 1 + mod(seed, 2));
  img = circshift(img, [17 * seed, 29 * seed]);
  stack = demo_oriented_responses(img, N);
  for k = 1:N
    stack{k} = stack{k} / level;
  end
  Fenwold(1, N, stack, size(photo, 1), size(photo, 2), saturation);
end

function patches = bar_patches(N, half)
% A short bar along each orientation, for drawing.
  [c, r] = meshgrid(-half:half, -half:half);
  patches = cell(N, 1);
  for k = 0:N-1
    theta = pi * k / N;
    across = -r * sin(theta) + c * cos(theta);
    patches{k + 1} = max(0, 1 - abs(across));
  end
end

function [scores, renders] = score_template(maps, tpl, patches, patchHalf, pool, saturation)
  [nImages, N] = size(maps);
  [nRows, nCols] = size(maps{1});
  renders = cell(nImages, 1);
  for i = 1:nImages
    renders{i} = zeros(nRows, nCols);
  end
  scores = zeros(nImages, 1);
  pooled = zeros(nImages, numel(tpl.x));
  Halvery(nImages, N, maps, cell(N, N), patchHalf, nRows, nCols, 0, tpl.ori, tpl.x, tpl.y, ...
          tpl.weight, tpl.bias, patches, renders, pool.shiftRange, pool.oriRange, pool.shiftStep, ...
          numel(tpl.x), saturation, scores, pooled, 0, 0, 0, 0);
end

function energy = stack_energy(stacks)
  energy = cell(size(stacks, 1), 1);
  for i = 1:size(stacks, 1)
    energy{i} = max(cat(3, stacks{i, :}), [], 3);
  end
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
