function [status, output] = child_octave(code, shell_prefix, seconds)
% CHILD_OCTAVE  Run code in a fresh octave-cli with this test's path, so that
%   a crash or a hang of what it calls cannot take the test down with it.
%   shell_prefix (e.g. 'ulimit -v 3000000;') runs first in the same shell;
%   the child is stopped after seconds (default 60). status is the child's
%   exit status (0 when code ran to its end), output what it printed.
  if nargin < 2, shell_prefix = ''; end
  if nargin < 3, seconds = 60; end
  file = [tempname() '.m'];
  fid = fopen(file, 'w');
  fprintf(fid, '%s\n', code);
  fclose(fid);
  here = fileparts(mfilename('fullpath'));
  dirs = {getenv('TOOLBOX_MEX_DIR'), getenv('TOOLBOX_PROBE_DIR'), here};
  path_args = '';
  for k = 1:numel(dirs)
    if ~isempty(dirs{k})
      path_args = [path_args ' --path ' shell_quote(dirs{k})];
    end
  end
  exe = fullfile(OCTAVE_HOME(), 'bin', 'octave-cli');
  if ~exist(exe, 'file'), exe = 'octave-cli'; end
  command = sprintf('%s timeout -k 5 %d %s --norc --quiet --no-history%s %s 2>&1', shell_prefix, seconds, ...
                    shell_quote(exe), path_args, shell_quote(file));
  [status, output] = system(command);
  delete(file);
end

function q = shell_quote(s)
  q = ['''' strrep(s, '''', '''\''''') ''''];
end
