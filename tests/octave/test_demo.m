% The demo pipeline does what it claims: every related test map gets its
% applied transform back, unrelated maps find no match, the two saturations
% agree, the density integrates to 1, the drawing turned back by Sabrel lies
% on the template, and every picture exists and is not blank.

root = getenv('TOOLBOX_SOURCE_DIR');
if isempty(root)
  root = pwd;
end
addpath(fullfile(root, 'demo'));
outdir = tempname();
confirm_recursive_rmdir(false);
cleanup = onCleanup(@() rmdir(outdir, 's'));
evalc('s = toolbox_demo(outdir);');

assert(s.failCount == 0, sprintf('%d test maps failed', s.failCount));
assert(s.passCount == numel(s.cases));
related = ~strcmp({s.cases.kind}, 'unrelated');
assert(sum(related) >= 12 && sum(~related) >= 2);
assert(isequal(s.recovered(related, :), vertcat(s.cases(related).expected)));
rotations = unique([s.cases.dO]);
assert(numel(rotations) >= 8, 'every rotation of the search should be exercised');
assert(all(s.bestScores(~related) < 0.5 * s.bestScores(1)));
assert(s.saturationAgrees);
assert(abs(s.densityIntegral - 1) < 1e-12);
assert(all(s.templateCoverage >= 0.8), 'the drawing turned back misses the template');
% The object placed in the cluttered scene is found where it was put, under
% the rotation it was given, well ahead of the next peak.
assert(isequal(s.detection.found, s.detection.known), 'detection: found (%d, %d, %d)', s.detection.found);
assert(size(s.detection.peaks, 1) < 2 || s.detection.peaks(2, 5) < 0.5 * s.detection.score);

for k = 1:numel(s.pictures)
  file = fullfile(outdir, s.pictures{k});
  assert(exist(file, 'file') == 2, ['missing ' file]);
  img = double(imread(file));
  assert(numel(img) >= 100 && std(img(:)) > 1, ['blank picture ' file]);
end
summary = fileread(fullfile(outdir, 'summary.txt'));
assert(~isempty(strfind(summary, sprintf('%d passed, 0 failed', s.passCount))));
% The report shows every picture with a caption, and the table with one row
% per test map, each saying why its expected answer is the one it is.
report = fileread(fullfile(outdir, 'report.html'));
for k = 1:numel(s.pictures)
  assert(~isempty(regexp(report, ['<img src="' s.pictures{k} '"[^>]*><figcaption>[^<]{40,}'], 'once')), ...
         ['no captioned picture ' s.pictures{k}]);
end
assert(numel(regexp(report, '<tr class="pass">')) == s.passCount);
assert(numel(regexp(report, 'turned back by r = mod\(')) == sum(related));
if ~isempty(file_in_path(getenv('PATH'), 'gnuplot'))
  assert(s.densityPlotted, 'gnuplot is here, yet the density was not plotted');
end
printf('test_demo: %d test maps, all as claimed\n', numel(s.cases));
