function v = otk_version()
%OTK_VERSION  Version of the oriented template toolbox (orientkit), as text.
%   V = OTK_VERSION returns the version, for instance '1.2.0'. The Octave
%   package carries the same version (pkg list orientkit), and NEWS lists
%   what changed in each one (news orientkit).
%
%   See also otk_threads.
  v = '1.2.0';
end

%!assert (ischar (otk_version ()))
%!assert (! isempty (regexp (otk_version (), '^\d+\.\d+\.\d+$', 'once')))
