%OTK_ORIENTED_RESPONSES  Oriented line and edge responses of images (Gabor energy), the maps the toolbox reads.
%   MAPS = OTK_ORIENTED_RESPONSES(IMAGES, N)
%   MAPS = OTK_ORIENTED_RESPONSES(IMAGES, N, 'Name', value, ...)
%
%   IMAGES is an nRows x nCols x nImages array of any real numeric class,
%   used as given (converted to double, not rescaled). N, a whole number
%   >= 1, is the number of orientations. MAPS is the nRows x nCols x N x
%   nImages double array of responses, the MAPS argument of the other otk_
%   functions: MAPS(:, :, k+1, i) is the response of image i at the angle
%   pi*k/N. Lines (and edges) running at pi*k/N from the row axis toward
%   the column axis respond most there (docs/geometry.md): a line down a
%   column, along the rows, peaks at k = 0; a line along a row at k = N/2.
%
%   Each response is the quadrature energy sqrt(even.^2 + odd.^2) of a
%   pair of Gabor filters. At the offset (r, c) from the kernel's centre
%   (r down the rows, c along the columns, both -HalfSize..HalfSize), with
%   theta = pi*k/N, along = r*cos(theta) + c*sin(theta) and
%   across = -r*sin(theta) + c*cos(theta):
%     envelope = exp(-(along.^2/(2*SigmaAlong^2) + across.^2/(2*SigmaAcross^2)))
%     even     = envelope .* cos(2*pi*across/Wavelength)
%     even     = even - envelope * (sum(even(:)) / sum(envelope(:)))
%     odd      = envelope .* sin(2*pi*across/Wavelength)
%   and even = conv2(image, even, 'same'), odd = conv2(image, odd, 'same'):
%   the borders see zeros outside the image. pi here is the true pi
%   (3.14159265358979...), as in the interpreted definition this follows
%   (toolbox_demo's), not the toolbox's PI = 3.1415926 of the template
%   kernels.
%
%   Options (name-value pairs, names in any case; defaults in brackets):
%     'Wavelength'   period of the carrier across the line, in pixels per
%                    cycle, a finite number above 0 [6]
%     'SigmaAlong'   standard deviation of the envelope along the line, in
%                    pixels, a finite number above 0 [3]
%     'SigmaAcross'  standard deviation of the envelope across the line,
%                    in pixels, a finite number above 0 [1.5]
%     'HalfSize'     half side of the kernels, in pixels: they are
%                    (2*HalfSize+1) x (2*HalfSize+1), a whole number >= 0 [7]
%
%   The convolutions are computed with FFTW on a grid padded by at least
%   HalfSize (to a length whose factors are 2, 3, 5 and 7, the one whose
%   transforms run fastest: a side of 256 pads to 280 at HalfSize 7), so
%   that they equal the direct sums up to rounding: within about 1e-15 of
%   the largest response. The plans are fixed (no timing, no wisdom, no
%   threads of FFTW's own), so MAPS is the same bits for any thread count
%   (see otk_threads), any split of a batch into calls and any order of
%   calls.
%   The filters are transformed once per call and shared by its images,
%   8*N*P*Q bytes for the padded size P x Q (about 10 MB for 256 x 256 at
%   N = 16); up to 64 MB of them are kept for the next call with the same
%   sizes, N and filter options (a call of one image then costs about half
%   as much), until the next call that differs or until the plug-in is
%   cleared (clear otk_oriented_responses). A call also holds 16*P*Q bytes
%   for each thread and 8*P*Q for each of the up to 8 images it transforms
%   at once.
%
%   Through the frequency domain every pixel of an image reaches every
%   response of it: a NaN or Inf in an image (or values so large that the
%   sums overflow) makes all of that image's maps NaN, where conv2 would
%   spoil only the pixels near it. Other images of the batch are not
%   affected.
%
%   An empty batch (nImages = 0, or nRows or nCols = 0) gives an empty
%   MAPS of the size above. IMAGES is never modified.
%
%   Errors (ids otk:<mnemonic>): nargin, nargout, notNumeric, notReal,
%   sparse, badSize, notScalar, notFinite, notInteger, notPositive,
%   negative, outOfRange, badOption, unknownOption, outOfMemory.
%
%   Example:
%     img = zeros(32);  img(:, 16) = 1;           % a line down column 16
%     maps = otk_oriented_responses(img, 8);
%     [~, k] = max(squeeze(maps(16, 16, :)));    % k = 1: the angle 0
%
%   See also otk_score_template, otk_learn_template, otk_threads, conv2.

% This file holds the help and the tests of the compiled function of the
% same name. Run alone, without the compiled function beside it, it says so.
error('otk:notBuilt', ...
      'otk_oriented_responses: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!function R = direct(img, N, wavelength, sigmaAlong, sigmaAcross, half)
%! ## The definition written out: conv2 'same' with the two filters.
%! [c, r] = meshgrid(-half:half, -half:half);
%! R = zeros(size(img, 1), size(img, 2), N);
%! for k = 0:N-1
%!   theta = pi * k / N;
%!   along = r * cos(theta) + c * sin(theta);
%!   across = -r * sin(theta) + c * cos(theta);
%!   envelope = exp(-(along.^2 / (2 * sigmaAlong^2) + across.^2 / (2 * sigmaAcross^2)));
%!   even = envelope .* cos(2 * pi * across / wavelength);
%!   even = even - envelope * (sum(even(:)) / sum(envelope(:)));
%!   odd = envelope .* sin(2 * pi * across / wavelength);
%!   R(:, :, k + 1) = sqrt(conv2(img, even, 'same').^2 + conv2(img, odd, 'same').^2);
%! end
%!endfunction

%!function ok = same_bits(a, b)
%! ok = isequal(size(a), size(b)) && isequal(typecast(a(:), 'uint64'), typecast(b(:), 'uint64'));
%!endfunction

%!test
%! ## Against the direct convolution: default filters, odd and even sizes,
%! ## images smaller than the kernel, and other filters.
%! seed = 5;
%! rand ('state', seed);
%! cases = {[40 33 3], 5, {}, [6 3 1.5 7]; [9 12 2], 4, {}, [6 3 1.5 7]; [1 1 1], 3, {}, [6 3 1.5 7];
%!          [30 31 2], 7, {'Wavelength', 4, 'SigmaAlong', 2, 'SigmaAcross', 1, 'HalfSize', 5}, [4 2 1 5];
%!          [17 20 1], 2, {'halfsize', 0}, [6 3 1.5 0];
%!          [16 16 1], 6, {'HalfSize', 20, 'SigmaAlong', 8}, [6 8 1.5 20]};
%! for t = 1:rows (cases)
%!   [sz, N, opts, p] = cases{t, :};
%!   img = 4 * rand (sz) - 1;
%!   R = otk_oriented_responses (img, N, opts{:});
%!   assert (size (R, 1:4), [sz(1) sz(2) N sz(3)]);
%!   for i = 1:sz(3)
%!     ref = direct (img(:, :, i), N, p(1), p(2), p(3), p(4));
%!     err = max (abs (R(:, :, :, i)(:) - ref(:)));
%!     assert (err <= 1e-12 * max ([abs(ref(:)); 1]), sprintf ('case %d image %d: error %g (seed %d)', t, i, err, seed));
%!   end
%! end

%!test
%! ## The toolbox's orientation convention: a line down a column (along the
%! ## rows) peaks at k = 0, along a row at N/2, on the diagonal r = c at N/4.
%! N = 8;
%! lines = {zeros(31), zeros(31), eye(31)};
%! lines{1}(:, 16) = 1;
%! lines{2}(16, :) = 1;
%! [~, k] = max (squeeze (otk_oriented_responses (cat (3, lines{:}), N)(16, 16, :, :)));
%! assert (k(:)' - 1, [0 N/2 N/4]);

%!test
%! ## The same bits on 1 and 2 threads, for a batch split in two calls and
%! ## for the images in any order; any real class is used as its doubles.
%! seed = 11;
%! rand ('state', seed);
%! img = round (255 * rand (37, 29, 5));
%! previous = getenv ('OTK_NUM_THREADS');
%! unwind_protect
%!   setenv ('OTK_NUM_THREADS', '1');
%!   one = otk_oriented_responses (img, 6);
%!   setenv ('OTK_NUM_THREADS', '2');
%!   two = otk_oriented_responses (img, 6);
%!   split = cat (4, otk_oriented_responses (img(:, :, 1:2), 6), otk_oriented_responses (img(:, :, 3:5), 6));
%!   reversed = otk_oriented_responses (img(:, :, 5:-1:1), 6);
%!   single1 = otk_oriented_responses (img(:, :, 1), 6);
%! unwind_protect_cleanup
%!   setenv ('OTK_NUM_THREADS', previous);
%! end_unwind_protect
%! assert (same_bits (one, two), sprintf ('1 and 2 threads differ (seed %d)', seed));
%! assert (same_bits (one, split), sprintf ('a split batch differs (seed %d)', seed));
%! assert (same_bits (one, reversed(:, :, :, 5:-1:1)), sprintf ('the order of images matters (seed %d)', seed));
%! assert (same_bits (one(:, :, :, 1), single1), sprintf ('one image alone differs (seed %d)', seed));
%! for cls = {'uint8', 'int16', 'single', 'logical'}
%!   x = cast (img, cls{1});
%!   assert (same_bits (otk_oriented_responses (x, 6), otk_oriented_responses (double (x), 6)), cls{1});
%! end

%!test
%! ## Empty batches keep the shape; the input is not modified.
%! assert (size (otk_oriented_responses (zeros (5, 4, 0), 3)), [5 4 3 0]);
%! assert (size (otk_oriented_responses (zeros (0, 4, 2), 3)), [0 4 3 2]);
%! assert (size (otk_oriented_responses (zeros (0, 0), 1)), [0 0]);
%! img = rand (6);
%! keep = img;
%! otk_oriented_responses (img, 2);
%! assert (same_bits (img, keep));

%!test
%! ## A NaN spoils its own image's maps, all of them, and no other image's.
%! img = ones (12, 10, 2);
%! img(3, 4, 1) = NaN;
%! R = otk_oriented_responses (img, 2);
%! assert (all (isnan (R(:, :, :, 1))(:)));
%! assert (R(:, :, :, 2), otk_oriented_responses (img(:, :, 2), 2));

%!error id=otk:nargin otk_oriented_responses (zeros (4))
%!error id=otk:nargout [a, b] = otk_oriented_responses (zeros (4), 2)
%!error <IMAGES \(argument 1\)> otk_oriented_responses ({zeros(4)}, 2)
%!error id=otk:notReal otk_oriented_responses (complex (zeros (4)), 2)
%!error id=otk:sparse otk_oriented_responses (sparse (zeros (4)), 2)
%!error id=otk:badSize otk_oriented_responses (zeros (4, 4, 2, 2), 2)
%!error <N \(argument 2\)> otk_oriented_responses (zeros (4), 0)
%!error id=otk:notFinite otk_oriented_responses (zeros (4), NaN)
%!error id=otk:notInteger otk_oriented_responses (zeros (4), 2.5)
%!error id=otk:notScalar otk_oriented_responses (zeros (4), [2 3])
%!error id=otk:notNumeric otk_oriented_responses (zeros (4), '2')
%!error id=otk:notPositive otk_oriented_responses (zeros (4), 2, 'Wavelength', 0)
%!error id=otk:notPositive otk_oriented_responses (zeros (4), 2, 'SigmaAlong', Inf)
%!error id=otk:notFinite otk_oriented_responses (zeros (4), 2, 'SigmaAcross', NaN)
%!error id=otk:negative otk_oriented_responses (zeros (4), 2, 'HalfSize', -1)
%!error id=otk:notInteger otk_oriented_responses (zeros (4), 2, 'HalfSize', 1.5)
%!error id=otk:unknownOption otk_oriented_responses (zeros (4), 2, 'Sigma', 1)
%!error id=otk:badOption otk_oriented_responses (zeros (4), 2, 'HalfSize')
%!error id=otk:outOfMemory otk_oriented_responses (zeros (4), 2, 'HalfSize', 2^31 - 1)

%!demo
%! ## The responses of a ring at four orientations: each lights up where
%! ## the ring runs at its angle.
%! [c, r] = meshgrid (1:64);
%! ring = double (abs (hypot (r - 32.5, c - 32.5) - 20) < 1.5);
%! maps = otk_oriented_responses (ring, 4);
%! for k = 1:4
%!   subplot (1, 4, k);
%!   imagesc (maps(:, :, k));
%!   axis image off;
%!   title (sprintf ('%d/4 pi', k - 1));
%! end
