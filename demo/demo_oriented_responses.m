function R = demo_oriented_responses(img, N)
% DEMO_ORIENTED_RESPONSES  Quadrature Gabor energy of img at N orientations.
%   R{k+1} responds to lines and edges running at the angle pi*k/N from the
%   row axis toward the column axis, the toolbox's orientation convention.
  half = 7;
  sigmaAlong = 3;
  sigmaAcross = 1.5;
  wavelength = 6;
  [c, r] = meshgrid(-half:half, -half:half);
  R = cell(1, N);
  for k = 0:N-1
    theta = pi * k / N;
    along = r * cos(theta) + c * sin(theta);
    across = -r * sin(theta) + c * cos(theta);
    envelope = exp(-(along.^2 / (2 * sigmaAlong^2) + across.^2 / (2 * sigmaAcross^2)));
    even = envelope .* cos(2 * pi * across / wavelength);
    even = even - envelope * (sum(even(:)) / sum(envelope(:)));
    odd = envelope .* sin(2 * pi * across / wavelength);
    re = conv2(img, even, 'same');
    im = conv2(img, odd, 'same');
    R{k + 1} = sqrt(re.^2 + im.^2);
  end
end
