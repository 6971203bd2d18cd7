%OTK_WARP_STACKS  Warp orientation stacks: rotate and shift them, turning the channels along.
%   OUT = OTK_WARP_STACKS(STACKS, ROWSHIFT, COLUMNSHIFT, ROTATION)
%
%   STACKS holds n images of N orientation maps each: an nRows x nCols x N
%   x n numeric array, or an n x N cell grid of nRows x nCols maps (any real
%   numeric class). ROWSHIFT, COLUMNSHIFT and ROTATION give each image's
%   transform: a scalar for all images, or one whole number per image.
%   ROTATION counts orientation steps of pi/N.
%
%   Every channel of image i is warped as otk_warp_maps warps a map (about
%   (floor(nRows/2), floor(nCols/2)) counted from 0, nearest neighbour, 0
%   outside), and result channel k reads source channel
%   mod(k + ROTATION(i), N), so orientations turn with the picture. A
%   stack turned here by r steps is found by otk_search_transform at the
%   rotation mod(-r, 2N), with a shift that makes up for the two centres
%   being one pixel apart (docs/geometry.md).
%
%   OUT has the layout of STACKS. STACKS is never modified; OUT is new. The
%   results are bit for bit those of the compiled Mundle, the zero-copy
%   route (see its help).
%
%   Errors (ids otk:<mnemonic>): nargin (fewer or more than 4 inputs),
%   notNumeric, notReal, sparse, badSize, badMapSize, notInteger.
%
%   Example:
%     stack = cat(3, zeros(3), [0 1 2; 10 11 12; 20 21 22]);   % N = 2
%     out = otk_warp_stacks(stack, 0, 0, 1);
%     out(:, :, 1)   % channel 0 from channel 1, a quarter turn:
%                    % [20 10 0; 21 11 1; 22 12 2]
%
%   See also otk_warp_maps, otk_search_transform, Mundle.

% This file holds the help and the tests of the compiled function of the
% same name. Run alone, without the compiled function beside it, it says so.
error('otk:notBuilt', ...
      'otk_warp_stacks: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!shared ramp
%! ramp = [0 1 2; 10 11 12; 20 21 22];

%!test
%! out = otk_warp_stacks(cat(3, zeros(3), ramp), 0, 0, 1);
%! assert (out(:, :, 1), [20 10 0; 21 11 1; 22 12 2]);
%! assert (out(:, :, 2), zeros(3));

%!test
%! ## Two images, each its own transform; cells in, cells out.
%! out = otk_warp_stacks({ramp, ramp; ramp, ramp}, [0 1], 0, [2 0]);
%! assert (out{1, 1}, [22 21 20; 12 11 10; 2 1 0]);
%! assert (out{2, 2}, [10 11 12; 20 21 22; 0 0 0]);

%!test
%! ## N = 4: a rotation of -1 makes channel 0 read channel 3.
%! s = zeros(3, 3, 4);
%! s(2, 2, 4) = 7;
%! out = otk_warp_stacks(s, 0, 0, -1);
%! assert (out(2, 2, 1), 7);

%!error id=otk:badMapSize otk_warp_stacks({ramp, zeros(2)}, 0, 0, 0)
%!error id=otk:badSize otk_warp_stacks(zeros(3, 3, 2, 2, 2), 0, 0, 0)
%!error id=otk:notInteger otk_warp_stacks(ramp, 0, 0, NaN)

%!demo
%! ## An orientation stack turned by a quarter turn: the picture turns and
%! ## channel 0 takes what channel 1 held.
%! stack = cat(3, zeros(3), [0 1 2; 10 11 12; 20 21 22]);
%! out = otk_warp_stacks(stack, 0, 0, 1)
