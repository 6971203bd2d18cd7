% Oriented template toolbox (orientkit): score, search and warp templates of oriented elements.
% Version 1.2.0
%
% Templates
%   otk_template           - Make a template struct from its elements' orientation, row, column, weight and bias.
%   otk_score_template     - Score a template on a batch of images: scores, pooled values and render maps.
%   otk_search_transform   - Search, per image, the rotation and shift under which a template matches best.
%   otk_transform_template - Move a template: rotate and shift it by a search answer.
%   otk_transform_points   - Rotate and shift oriented points with the toolbox's point transform.
%
% Detection
%   otk_learn_template     - Learn a template from aligned examples: strong, separated elements of their mean pooled responses.
%   otk_score_map          - Score a template at every placement of a batch of images to detect it: score map, best rotation and peaks.
%
% Warping
%   otk_warp_maps          - Warp single maps: rotate and shift each about its centre (nearest neighbour).
%   otk_warp_stacks        - Warp orientation stacks: rotate and shift them, turning the channels along.
%
% Responses
%   otk_oriented_responses - Oriented line and edge responses of images (Gabor energy), the maps the toolbox reads.
%   otk_saturate           - Saturate response maps with a sigmoid, s*tanh(v/s), into new maps.
%   otk_response_density   - Histogram saturated responses into a density; also the number of values binned.
%
% Toolbox
%   otk_version            - Version of the oriented template toolbox (orientkit), as text.
%   otk_threads            - Number of threads the compiled functions use.
%
% The compiled plug-ins underneath (zero-copy: they write into the arrays
% you pass, see their help for the copy-on-write traps):
%   Halvery                - Score a template on a batch of images, pool and draw its elements.
%   Wendlow                - Find, per image, the rotation and shift under which a template matches best.
%   Sabrel                 - Rotate and shift single maps about their centre (nearest neighbour).
%   Mundle                 - Rotate and shift whole orientation stacks, moving the channels along.
%   Fenwold                - Saturate response maps in place with a sigmoid.
%   Porrith                - Saturate response maps and histogram their interior into a density.
%
% Demonstration
%   toolbox_demo           - The whole toolbox at work on a photograph, with a report.
%
% Geometry (which index is the row, where orientations point, the centres of
% rotation): docs/geometry.md in the source tree.
