% RESPONSES_TIMING  otk_oriented_responses beside the interpreted routes to
% the same maps and beside the transforms it cannot avoid, through the host,
% on the same data in the same run:
%
%   octave-cli --norc --path build/mex --path build/bench-mex bench/responses_timing.m
%
% (build/bench-mex holds floor_responses: cmake --build build --target
% floor_responses_octave.) A batch of 32 images of 256 x 256 at N = 16, the
% default filters. The rows, in milliseconds per image (medians of ROUNDS
% rounds, the calls of a round one after another):
%   conv2 route   the demo's interpreted loop (conv2 'same' with the even
%                 and the odd filter at each orientation), on CONV_IMAGES
%                 of the images
%   fft2 route    interpreted through the frequency domain: the filters'
%                 transforms once for the batch (even + i*odd, padded to
%                 nRows + 2*HalfSize), per image one fft2 and per
%                 orientation one ifft2 of the product, the 'same' part
%                 and its abs; on FFT_IMAGES of the images, with the
%                 host's FFTW on one thread (fftw('threads', 1); Octave
%                 may start with more)
%   otk 1 thread  otk_oriented_responses on the whole batch, one thread
%   otk 2 threads the same on two threads (OTK_NUM_THREADS)
%   otk 1 a call  otk_oriented_responses on one image a call, FFT_IMAGES
%                 calls, one thread: each call finds the filters' spectra
%                 the call before it kept
%   floor         floor_responses: the call's own plans and nothing but
%                 its transforms, one real-to-complex forward per image
%                 and N complex inverse transforms per image, one thread
%   result array  zeros of the size of the result: the host's making of
%                 the 268 MB array every call returns (in the call's time,
%                 not in the floor's)
% Each single-threaded row also gives the process's CPU time per image
% (cputime), which a machine shared with other work disturbs less than
% the wall clock. The ratios asked of the compiled call are printed at the
% end, from the medians and once more from each row's fastest round: fft2 route / otk 1 thread (at least 5), otk 1 thread / floor (at
% most 1.3), otk 1 thread / otk 2 threads (at least 1.7). Octave-only.
% The result array is half the call on the 4 kB pages glibc gives a new
% array; with GLIBC_TUNABLES=glibc.malloc.hugetlb=1 in front (the host's
% arrays on 2 MB pages from their first touch) a quarter of that. The
% header prints the setting; tools/bench.sh --host runs both.

1;

% The default filter pair of orientation k of N (HalfSize 7, SigmaAlong 3,
% SigmaAcross 1.5, Wavelength 6), as the demo defines it.
function [even, odd] = gabor_pair(k, N)
  half = 7;
  sigmaAlong = 3;
  sigmaAcross = 1.5;
  wavelength = 6;
  [c, r] = meshgrid(-half:half, -half:half);
  theta = pi * k / N;
  along = r * cos(theta) + c * sin(theta);
  across = -r * sin(theta) + c * cos(theta);
  envelope = exp(-(along.^2 / (2 * sigmaAlong^2) + across.^2 / (2 * sigmaAcross^2)));
  even = envelope .* cos(2 * pi * across / wavelength);
  even = even - envelope * (sum(even(:)) / sum(envelope(:)));
  odd = envelope .* sin(2 * pi * across / wavelength);
end

% The demo's loop: the filters made for every image, as it made them.
function R = conv2_route(images, N)
  R = zeros(size(images, 1), size(images, 2), N, size(images, 3));
  for i = 1:size(images, 3)
    img = images(:, :, i);
    for k = 0:N-1
      [even, odd] = gabor_pair(k, N);
      R(:, :, k + 1, i) = sqrt(conv2(img, even, 'same').^2 + conv2(img, odd, 'same').^2);
    end
  end
end

function R = fft2_route(images, N)
  half = 7;
  [nRows, nCols, nImages] = size(images);
  P = nRows + 2 * half;
  Q = nCols + 2 * half;
  H = zeros(P, Q, N);
  for k = 0:N-1
    [even, odd] = gabor_pair(k, N);
    H(:, :, k + 1) = fft2(even + 1i * odd, P, Q);
  end
  R = zeros(nRows, nCols, N, nImages);
  rows = half + (1:nRows);
  cols = half + (1:nCols);
  for i = 1:nImages
    F = fft2(images(:, :, i), P, Q);
    for k = 1:N
      y = ifft2(F .* H(:, :, k));
      R(:, :, k, i) = abs(y(rows, cols));
    end
  end
end

% Wall and CPU seconds of one run of f.
function [wall, cpu] = timed(f)
  c0 = cputime();
  t0 = tic;
  f();
  wall = toc(t0);
  cpu = cputime() - c0;
end

function one_a_call(images, N)
  for i = 1:size(images, 3)
    otk_oriented_responses(images(:, :, i), N);
  end
end

function set_threads(n)
  setenv('OTK_NUM_THREADS', sprintf('%d', n));
end

ROUNDS = 5;
N_IMAGES = 32;
SIDE = 256;
N = 16;
CONV_IMAGES = 2;
FFT_IMAGES = 8;
seed = 34;
rand('state', seed);
images = 255 * rand(SIDE, SIDE, N_IMAGES);
previous = getenv('OTK_NUM_THREADS');
fftwThreads = fftw('threads');

% The routes agree (and every function is loaded before the timing).
set_threads(1);
compiled = otk_oriented_responses(images(:, :, 1:2), N);
largest = max(compiled(:));
dConv = max(abs(reshape(conv2_route(images(:, :, 1), N) - compiled(:, :, :, 1), [], 1))) / largest;
dFft = max(abs(reshape(fft2_route(images(:, :, 1:2), N) - compiled, [], 1))) / largest;
floor_responses(images(:, :, 1), N);
printf('responses_timing: %d images of %dx%d, N = %d, %d rounds; seed %d; GLIBC_TUNABLES=%s\n', N_IMAGES, SIDE, SIDE, N, ...
       ROUNDS, seed, getenv('GLIBC_TUNABLES'));
printf('  largest difference to the compiled maps, over the largest response: conv2 %.1e, fft2 %.1e\n', dConv, dFft);
clear compiled;

names = {'conv2 route', 'fft2 route', 'otk 1 thread', 'otk 2 threads', 'floor', 'result array', 'otk 1 a call'};
perImage = [CONV_IMAGES, FFT_IMAGES, N_IMAGES, N_IMAGES, N_IMAGES, N_IMAGES, FFT_IMAGES];
wall = zeros(ROUNDS, numel(names));
cpu = zeros(ROUNDS, numel(names));
unwind_protect
  for round = 1:ROUNDS
    set_threads(1);
    [wall(round, 1), cpu(round, 1)] = timed(@() conv2_route(images(:, :, 1:CONV_IMAGES), N));
    fftw('threads', 1);
    [wall(round, 2), cpu(round, 2)] = timed(@() fft2_route(images(:, :, 1:FFT_IMAGES), N));
    fftw('threads', fftwThreads);
    [wall(round, 3), cpu(round, 3)] = timed(@() otk_oriented_responses(images, N));
    set_threads(2);
    [wall(round, 4), cpu(round, 4)] = timed(@() otk_oriented_responses(images, N));
    set_threads(1);
    [wall(round, 5), cpu(round, 5)] = timed(@() floor_responses(images, N));
    [wall(round, 6), cpu(round, 6)] = timed(@() zeros(SIDE, SIDE, N, N_IMAGES));
    [wall(round, 7), cpu(round, 7)] = timed(@() one_a_call(images(:, :, 1:FFT_IMAGES), N));
  end
unwind_protect_cleanup
  fftw('threads', fftwThreads);
  if isempty(previous)
    unsetenv('OTK_NUM_THREADS');
  else
    setenv('OTK_NUM_THREADS', previous);
  end
end_unwind_protect

w = 1000 * median(wall, 1) ./ perImage;
c = 1000 * median(cpu, 1) ./ perImage;
printf('  %-14s %12s %12s\n', 'ms per image', 'wall', 'cpu');
for k = 1:numel(names)
  if k == 4
    printf('  %-14s %12.2f %12s\n', names{k}, w(k), '(2 threads)');
  else
    printf('  %-14s %12.2f %12.2f\n', names{k}, w(k), c(k));
  end
end
printf('  fft2 route / otk 1 thread     %6.2f wall %6.2f cpu   (asked: >= 5)\n', w(2) / w(3), c(2) / c(3));
printf('  conv2 route / otk 1 thread    %6.2f wall %6.2f cpu\n', w(1) / w(3), c(1) / c(3));
printf('  otk 1 thread / floor          %6.2f wall %6.2f cpu   (asked: <= 1.3)\n', w(3) / w(5), c(3) / c(5));
printf('    less the result array       %6.2f wall %6.2f cpu\n', (w(3) - w(6)) / w(5), (c(3) - c(6)) / c(5));
% What a call through the host cannot avoid is its transforms and its
% result array: against both, and what the fft2 route would be against a
% call that did nothing else (the most the first ratio can reach).
printf('  otk 1 thread / (floor + result array)  %6.2f wall\n', w(3) / (w(5) + w(6)));
printf('  fft2 route / (floor + result array)    %6.2f wall   (the most fft2 / otk can be)\n', w(2) / (w(5) + w(6)));
printf('  otk 1 thread / otk 2 threads  %6.2f wall              (asked: >= 1.7)\n', w(3) / w(4));
printf('    less the result array       %6.2f wall\n', (w(3) - w(6)) / (w(4) - w(6)));
% The host makes the result on its one thread before the call's threads
% start: a second core can halve the rest at most.
printf('    the most two cores can give %6.2f wall\n', w(3) / (w(6) + (w(3) - w(6)) / 2));
% On a machine shared with other work the fastest round of each row is
% the one least disturbed: the same ratios from those.
b = 1000 * min(wall, [], 1) ./ perImage;
printf('  best rounds (wall): fft2/otk1 %.2f, otk1/floor %.2f (less the result array %.2f), otk1/otk2 %.2f\n', ...
       b(2) / b(3), b(3) / b(5), (b(3) - b(6)) / b(5), b(3) / b(4));
