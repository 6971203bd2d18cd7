function geometry_figure(file)
% GEOMETRY_FIGURE  Draws docs/geometry.png, the picture of docs/geometry.md,
%   headless (Octave's gnuplot toolkit, gnuplot's cairo PNG terminal). Needs
%   build/mex on the path: every moved point is computed by the toolbox.
%     octave-cli --norc --path build/mex --path docs --eval "geometry_figure('docs/geometry.png')"
  n = 8;
  N = 8;
  graphics_toolkit('gnuplot');
  f = figure('visible', 'off', 'position', [0 0 900 470]);

  % Left: a map turned by Sabrel/Mundle, and its two centres.
  pixel_grid(1, n);
  search = floor(n / 2);            % counted from 1
  warp = floor(n / 2) + 1;          % floor(n/2) counted from 0
  plot(warp, warp, 's', 'color', [0.85 0.2 0.1], 'markersize', 14, 'linewidth', 2);
  plot(search, search, 'o', 'color', [0.1 0.3 0.8], 'markersize', 14, 'linewidth', 2);
  text(warp + 0.3, warp + 0.6, 'warp centre', 'color', [0.85 0.2 0.1]);
  text(search - 3.4, search - 0.5, 'search centre', 'color', [0.1 0.3 0.8]);
  % A map with one bright pixel below the warp centre, turned by a quarter
  % turn (N = 2, rotation 1): the pixel goes where Sabrel puts it.
  src = zeros(n);
  src(warp + 2, warp) = 1;
  out = otk_warp_maps(src, 0, 0, 1, 2);
  [rr, cc] = find(out);
  plot(warp, warp + 2, 'k*', 'markersize', 10);
  plot(cc, rr, 'p', 'color', [0.85 0.2 0.1], 'markersize', 12, 'markerfacecolor', [0.85 0.2 0.1]);
  text(warp + 0.3, warp + 2.3, 'pixel');
  text(cc - 1.6, rr + 0.7, 'after a +90 deg warp', 'color', [0.85 0.2 0.1]);
  label_grid(n, 'warp by +90 deg: the picture turns clockwise');

  % Right: orientations and the point transform about the search centre.
  pixel_grid(2, n);
  plot(search, search, 'o', 'color', [0.1 0.3 0.8], 'markersize', 14, 'linewidth', 2);
  for k = 0:N - 1
    theta = pi * k / N;
    dr = 2.6 * cos(theta);
    dc = 2.6 * sin(theta);
    plot(search + [-dc dc], search + [-dr dr], '-', 'color', [0.5 0.7 0.5]);
    text(search + 0.5 * dc - 0.1, search + 0.5 * dr, sprintf('%d', k), 'color', [0.2 0.5 0.2]);
  end
  % One element below the centre, orientation 0, moved by a rotation of
  % 2 steps (45 degrees at N = 8) and by a rotation of 4 steps (90 degrees).
  [r1, c1, o1] = otk_transform_points(N, search, search, search + 3, search, 0, 0, 0, 2);
  [r2, c2, o2] = otk_transform_points(N, search, search, search + 3, search, 0, 0, 0, 4);
  plot(search, search + 3, 'k*', 'markersize', 10);
  plot([c1 c2], [r1 r2], 'p', 'color', [0.1 0.3 0.8], 'markersize', 12, 'markerfacecolor', [0.1 0.3 0.8]);
  text(search + 0.3, search + 3.4, 'element, orientation 0');
  text(c1 + 0.3, r1 + 0.3, sprintf('rotation 2: (%d, %d), ori %d', r1, c1, o1), 'color', [0.1 0.3 0.8]);
  text(c2 - 0.6, r2 - 0.6, sprintf('rotation 4: (%d, %d), ori %d', r2, c2, o2), 'color', [0.1 0.3 0.8]);
  label_grid(n, 'orientations k, N = 8; points turn counterclockwise');
  print(f, file, '-dpngcairo', '-r90');
  close(f);
end

function pixel_grid(panel, n)
% One panel with a dot on every pixel of an n x n map.
  subplot(1, 2, panel);
  hold on;
  [c, r] = meshgrid(1:n, 1:n);
  plot(c(:), r(:), '.', 'color', [0.6 0.6 0.6], 'markersize', 8);
end

function label_grid(n, heading)
% Rows down, columns right, both counted from 1, as the host shows a matrix.
  axis ij equal;
  axis([0.5 n + 0.5 0.5 n + 0.5]);
  set(gca, 'xaxislocation', 'top', 'xtick', 1:n, 'ytick', 1:n);
  xlabel('column (counted from 1)');
  ylabel('row (counted from 1)');
  title(heading, 'interpreter', 'none');
end
