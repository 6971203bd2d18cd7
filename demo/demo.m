% Demo: score a template on a small generated batch with Halvery.
%
% Three 32 x 32 images with N = 4 orientation maps each. Image 1 holds the
% template's responses exactly where the template expects them, image 2 holds
% them one pixel off (found by pooling), image 3 holds unrelated noise.

N = 4; nRows = 32; nCols = 32; nImages = 3;
rand('seed', 1);
elemOri = [0 1 2 3 0];
elemX   = [10 12 20 22 16];
elemY   = [10 20 12 22 16];
weight  = [1 1 1 1 1];
bias    = [0.2 0.2 0.2 0.2 0.2];

maps = cell(nImages, N);
for i = 1:nImages
  for o = 1:N
    maps{i, o} = 0.1 * rand(nRows, nCols);
  end
end
for e = 1:numel(elemOri)
  maps{1, elemOri(e) + 1}(elemX(e), elemY(e)) = 1;
  maps{2, elemOri(e) + 1}(elemX(e) + 1, elemY(e)) = 1;
end

patchHalf = 2;
patches = cell(N, 1);
for o = 1:N
  patches{o} = ones(2 * patchHalf + 1);
end
renders = cell(nImages, 1);
for i = 1:nImages
  renders{i} = zeros(nRows, nCols);
end
scores = zeros(nImages, 1);
pooled = zeros(nImages, numel(elemOri));

Halvery(nImages, N, maps, cell(N, N), patchHalf, nRows, nCols, 0, elemOri, elemX, elemY, ...
        weight, bias, patches, renders, 1, 1, 1, numel(elemOri), 1, scores, pooled, 0, 0, 0, 0);

labels = {'template in place', 'template one row off', 'unrelated noise'};
printf('%-22s %8s\n', 'image', 'score');
for i = 1:nImages
  printf('%-22s %8.4f\n', labels{i}, scores(i));
end
printf('pooled values (images x elements):\n');
disp(pooled);
