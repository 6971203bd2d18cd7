function r = wendlow_results(a)
% WENDLOW_RESULTS  [bestScores, bestDeltaX, bestDeltaY, bestDeltaOri] of a
%   Wendlow argument list, one row per image (a copy).
  r = [a{21}(:), a{27}(:), a{28}(:), a{29}(:)];
end
