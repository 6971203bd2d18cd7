function cluster_client(seed, server_binary, seconds)
% CLUSTER_CLIENT  The client half of test_otk_cluster: start a pserver, run a
%   batch of otk_score_template and otk_search_transform jobs on it through
%   netcellfun, and check them bit for bit against the same calls here.
%
%   Runs only as the first process of the private namespaces that
%   test_otk_cluster sets up (own process ids, own loopback, own host name),
%   because the package's server listens on every interface without
%   authentication in the Debian build and its client knows only the fixed
%   ports 12502 (commands) and 12501 (data). Every other process in the
%   namespace was started from here, so the cleanup stops all of them.
%   Gives up after seconds; the caller's timeout is the hard limit.
  deadline = time() + seconds;
  if getpid() ~= 1
    error('cluster:notIsolated', 'cluster_client: must be the first process of its own namespace, is %d', getpid());
  end
  pkg('load', 'parallel');
  ports = [12502 12501];
  host = gethostname();
  conns = [];
  failure = [];
  try
    busy = listening(ports);
    assert(isempty(busy), sprintf('port %d taken before the server started', busy));
    server = start_server(server_binary, ports, host, deadline);
    conns = pconnect({'localhost'}, struct('use_tls', false));
    % The server runs FUN in its own octave-cli: it needs the toolbox there.
    reval(sprintf('addpath(''%s'');', strrep(getenv('TOOLBOX_MEX_DIR'), '''', '''''')), conns);
    network_set(conns, 'nlocaljobs', 1);
    run_batch(conns, seed);
  catch err
    failure = err;
  end
  % Whatever happened: close, stop every process but this one, remove the
  % server's files; then make sure the ports and the server are gone.
  if ~isempty(conns)
    try
      sclose(conns);
    catch err
      if isempty(failure), failure = err; end
    end
  end
  left = stop_others(deadline);
  remove_server_files(host, ~isempty(failure));
  if isempty(failure)
    assert(isempty(left), sprintf('processes %s outlived the cleanup', mat2str(left)));
    assert(isempty(listening(ports)), 'a server port is still taken after the cleanup');
    assert(~exist(sprintf('/proc/%d', server), 'dir'), sprintf('server %d still exists', server));
  else
    rethrow(failure);
  end
end

function pid = start_server(server_binary, ports, host, deadline)
  % The server refuses to run as root, and in this user namespace we are
  % root: it gets a nested one where it is an ordinary user (still our own
  % user outside, so it reads the toolbox and writes where we may).
  exe = fullfile(OCTAVE_HOME(), 'bin', 'octave-cli');
  versioned = [exe '-' OCTAVE_VERSION()];
  if exist(versioned, 'file'), exe = versioned; end
  command = sprintf(['setsid unshare --user --map-user=65534 --map-group=65534 %s --octave-binary=%s ' ...
                     '--no-auth --cmd-port=%d --data-port=%d'], server_binary, exe, ports(1), ports(2));
  [status, output] = system(command);
  assert(status == 0, sprintf('the server did not start (%d): %s', status, output));
  % It forks into the background, writes its pid file, then listens.
  pidfile = sprintf('/tmp/.octave-%s.pid', host);
  pid = [];
  while numel(listening(ports)) < 2 || isempty(pid)
    assert(time() < deadline, 'the server did not come up in time');
    pause(0.05);
    if isempty(pid) && exist(pidfile, 'file')
      pid = str2double(fileread(pidfile));
      if isnan(pid), pid = []; end
    end
  end
end

function run_batch(conns, seed)
  % Several images of different sizes and templates, the maps with negative
  % values and exact -0 entries; a cap of -0 gives -0 pooled values, a bias
  % no candidate can beat gives scores of -1000 with NaN shifts. All of them
  % must cross the connection unchanged.
  rand('state', seed);
  N = 8;
  sizes = [16 16; 20 24; 24 18; 18 20];
  images = cell(1, rows(sizes));
  for i = 1:numel(images)
    m = rand(sizes(i, 1), sizes(i, 2), N) - 0.3;
    m(rand(size(m)) < 0.05) = -0;
    images{i} = m;
  end
  templates = cell(1, 3);
  for t = 1:numel(templates)
    K = 4 + 3 * t;
    templates{t} = otk_template(randi([0 N - 1], 1, K), randi([4 14], 1, K), randi([4 14], 1, K), ...
                                rand(1, K) - 0.5, rand(1, K) - 0.5);
  end
  templates{3}.weight(1:2) = -0;
  templates{2}.bias(1) = 5000;
  options = {{}, {'Saturation', -0}, {'ShiftRange', 2, 'OriRange', 2, 'Saturation', -0.25}};

  [i, t] = ndgrid(1:numel(images), 1:numel(templates));
  maps = images(i(:)');
  tpls = templates(t(:)');
  opts = options(mod(0:numel(maps) - 1, numel(options)) + 1);
  score = @(m, tpl, o) otk_score_template(m, tpl, o{:});
  search = @(m, tpl, o) otk_search_transform(m, tpl, o{:});
  [s, p, r] = netcellfun(conns, score, maps, tpls, opts, 'UniformOutput', false, 'VerboseLevel', 0);
  [b, dr, dc, rot] = netcellfun(conns, search, maps, tpls, opts, 'UniformOutput', false, 'VerboseLevel', 0);
  remote = [s; p; r; b; dr; dc; rot];
  for j = 1:numel(maps)
    local = cell(7, 1);
    [local{1:3}] = score(maps{j}, tpls{j}, opts{j});
    [local{4:7}] = search(maps{j}, tpls{j}, opts{j});
    for k = 1:7
      assert(isequaln(remote{k, j}, local{k}) && isequal(bits_of(remote{k, j}), bits_of(local{k})), ...
             sprintf('job %d, output %d: the server gave other bits (seed %d)', j, k, seed));
    end
  end
  printf('cluster_client: %d score and %d search jobs through netcellfun, the same bits as here\n', ...
         numel(maps), numel(maps));
end

function left = stop_others(deadline)
  % TERM first so the server removes its pid file, KILL what remains; reap
  % as we go, since orphans of this namespace become our children.
  signal = SIG().TERM;
  grace = time() + 2;
  left = others();
  while ~isempty(left)
    for pid = left
      kill(pid, signal);
    end
    pause(0.05);
    while waitpid(-1, WNOHANG()) > 0
    end
    left = others();
    if time() > grace
      signal = SIG().KILL;
    end
    if time() > deadline
      break;
    end
  end
end

function pids = others()
  entries = dir('/proc');
  pids = str2double({entries([entries.isdir]).name});
  pids = pids(~isnan(pids) & pids ~= getpid());
end

function ports = listening(ports)
  % The ports among those given that some socket listens on (state 0A).
  taken = [];
  for file = {'/proc/net/tcp', '/proc/net/tcp6'}
    if exist(file{1}, 'file')
      lines = strsplit(fileread(file{1}), "\n");
      for k = 2:numel(lines)
        fields = strsplit(strtrim(lines{k}));
        if numel(fields) >= 4 && strcmp(fields{4}, '0A')
          taken(end + 1) = hex2dec(fields{2}(find(fields{2} == ':', 1, 'last') + 1:end));
        end
      end
    end
  end
  ports = ports(ismember(ports, taken));
end

function remove_server_files(host, show)
  % The pid file (left when the server had to be killed) and its error
  % logs, shown first when the run failed.
  files = [glob(sprintf('/tmp/.octave-%s.pid', host)); glob(sprintf('/tmp/octave_error-%s*.log', host))];
  for k = 1:numel(files)
    if show && ~isempty(strfind(files{k}, '.log')) && ~isempty(fileread(files{k}))
      printf('--- %s:\n%s\n', files{k}, fileread(files{k}));
    end
    delete(files{k});
  end
end
