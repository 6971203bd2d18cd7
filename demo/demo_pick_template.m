function t = demo_pick_template(stack, K, radius, minSeparation)
% DEMO_PICK_TEMPLATE  K strong, mutually separated responses as a template.
%   stack is a 1 x N cell of maps. Elements lie within radius of the map
%   centre, so that the template stays inside the maps when turned, and at
%   least minSeparation pixels apart. Each element's bias is half its own
%   response, so a match scores about half the template's total response.
  N = numel(stack);
  [nRows, nCols] = size(stack{1});
  best = zeros(nRows, nCols);
  bestOri = zeros(nRows, nCols);
  for k = 1:N
    higher = stack{k} > best;
    best(higher) = stack{k}(higher);
    bestOri(higher) = k - 1;
  end
  [cols, rows] = meshgrid(1:nCols, 1:nRows);
  centreRow = floor(nRows / 2);
  centreCol = floor(nCols / 2);
  inside = (rows - centreRow).^2 + (cols - centreCol).^2 <= radius^2;
  candidates = find(inside);
  [values, order] = sort(best(candidates), 'descend');
  candidates = candidates(order);
  t.ori = zeros(1, 0); t.x = zeros(1, 0); t.y = zeros(1, 0); t.value = zeros(1, 0);
  for c = 1:numel(candidates)
    r = rows(candidates(c));
    q = cols(candidates(c));
    if all((t.x - r).^2 + (t.y - q).^2 >= minSeparation^2)
      t.ori(end + 1) = bestOri(candidates(c));
      t.x(end + 1) = r;
      t.y(end + 1) = q;
      t.value(end + 1) = values(c);
      if numel(t.x) == K
        break;
      end
    end
  end
  t.weight = ones(size(t.x));
  t.bias = 0.5 * t.value;
end
