% The cluster route of docs/cluster.md: a pserver of Octave's parallel package,
% pconnect, and a batch of otk_score_template and otk_search_transform jobs
% through netcellfun, checked bit for bit against the same calls in the
% client (cluster_client.m does that part).
%
% The Debian build of the package has no TLS (pconnect says "TLS not
% available", parallel_generate_srp_data does not exist), its server listens
% on every interface, and pconnect knows only the ports 12502 and 12501. So
% client and server run in namespaces of their own: a network with nothing
% but a loopback, where those ports are free and no one else can reach them;
% their own process ids, so that every process the run starts ends with its
% client; their own host name, which names the server's files in /tmp. A
% machine that allows no user namespaces skips the test rather than expose
% an unauthenticated server.
%
% Bounded: the whole run is stopped after budget seconds (well inside the
% ctest timeout); afterwards no process of the run may be left anywhere.

if isempty(pkg('list', 'parallel'))
  printf('test_otk_cluster: SKIPPED, the parallel package is not installed (Debian: octave-parallel)\n');
  return;
end
pkg('load', 'parallel');
quote = @(s) ['''' strrep(s, '''', '''\''''') ''''];

% Where pserver itself looks for its program.
candidates = {fullfile(fileparts(which('pserver')), 'bin', 'octave-pserver'), '/usr/libexec/octave-pserver'};
server_binary = '';
for k = 1:numel(candidates)
  if exist(candidates{k}, 'file'), server_binary = candidates{k}; break; end
end
if isempty(server_binary)
  [status, found] = system('command -v octave-pserver');
  if status == 0, server_binary = strtrim(found); end
end
if isempty(server_binary)
  printf('test_otk_cluster: SKIPPED, the parallel package has no octave-pserver here\n');
  return;
end

namespaces = 'unshare --user --map-root-user --net --mount --uts --pid --fork --kill-child --mount-proc';
[status, output] = system([namespaces ' sh -c ''ip link set lo up && hostname probe && ' ...
                           'unshare --user --map-user=65534 --map-group=65534 true'' 2>&1']);
if status ~= 0
  printf('test_otk_cluster: SKIPPED, no private user, network and process namespaces here: %s\n', strtrim(output));
  return;
end

seed = 7;
budget = 40;
started = time();
scratch = tempname();
[~, host] = fileparts(scratch);
host = ['otk-' host];
marker = sprintf('TOOLBOX_CLUSTER_RUN=%s', scratch);
mkdir(scratch);
here = fileparts(mfilename('fullpath'));
exe = fullfile(OCTAVE_HOME(), 'bin', 'octave-cli');
if ~exist(exe, 'file'), exe = 'octave-cli'; end
seconds = max(5, round(budget - (time() - started)));
code = sprintf('cluster_client(%d, %s, %d)', seed, quote(server_binary), seconds - 5);
inner = ['ip link set lo up && hostname "$1" && exec "$2" --norc --quiet --no-history ' ...
         '--path "$3" --path "$4" --eval "$5"'];
% The client works in the scratch folder, the server follows it there, and
% HOME points there for both. At the deadline unshare gets KILL (it ignores
% TERM while it waits), its child the same, and the namespace's processes
% die with their first one.
command = sprintf('cd %s && HOME=%s %s timeout -s KILL %d %s sh -c %s sh %s %s %s %s %s 2>&1', ...
                  quote(scratch), quote(scratch), marker, seconds, namespaces, quote(inner), ...
                  quote(host), quote(exe), quote(getenv('TOOLBOX_MEX_DIR')), quote(here), quote(code));
left = [];
unwind_protect
  [status, output] = system(command);
unwind_protect_cleanup
  % Anything that still carries the run's marker outlived its namespace.
  entries = dir('/proc');
  for pid = str2double({entries([entries.isdir]).name})
    if isnan(pid) || pid == getpid(), continue; end
    fid = fopen(sprintf('/proc/%d/environ', pid), 'r');
    if fid < 0, continue; end
    environ = fread(fid, Inf, 'char=>char')';
    fclose(fid);
    if any(strcmp(strsplit(environ, char(0)), marker))
      left(end + 1) = pid;
      kill(pid, SIG().KILL);
    end
  end
  % The server's files if its client had no time to remove them.
  files = [glob(sprintf('/tmp/.octave-%s.pid', host)); glob(sprintf('/tmp/octave_error-%s*.log', host))];
  for k = 1:numel(files)
    delete(files{k});
  end
  ask = confirm_recursive_rmdir(false);
  rmdir(scratch, 's');
  confirm_recursive_rmdir(ask);
end_unwind_protect

printf('%s', output);
assert(status == 0, sprintf('the cluster run failed with status %d (seed %d)', status, seed));
assert(~isempty(strfind(output, 'the same bits as here')), sprintf('the cluster run did not finish (seed %d)', seed));
assert(isempty(left), sprintf('processes %s of the run outlived it', mat2str(left)));
assert(~exist(scratch, 'dir'), 'the scratch folder is still there');
printf('test_otk_cluster: done in %.1f s, nothing left behind\n', time() - started);
