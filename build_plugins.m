function built = build_plugins(outdir)
%BUILD_PLUGINS  Compile the toolbox's plug-ins with this host's own mex command.
%   BUILD_PLUGINS compiles every plug-in whose source is present (Halvery,
%   Wendlow, Sabrel, Mundle, Fenwold and Porrith, each from NAME/NAME.cpp
%   beside this file, and the compiled helpers of the otk_ function layer,
%   otk/*.cpp) into the folder build/mex-user beside this file, prints one
%   line per plug-in, and copies the otk_ functions (otk/*.m with
%   otk/private) there too, so that the folder holds the whole toolbox.
%
%   BUILD_PLUGINS(OUTDIR) compiles them into the folder OUTDIR instead. The
%   folder is created if it does not exist; a relative name is taken from
%   the current folder.
%
%   BUILT = BUILD_PLUGINS(...) also returns the full names of the files
%   built, one per plug-in (the six first), in a cell array.
%
%   otk_oriented_responses also links FFTW: in Octave the system's
%   libfftw3 (Octave's own; Debian: install libfftw3-dev for its header),
%   in MATLAB the copy MATLAB ships and uses for its own fft, libmwfftw3 in
%   matlabroot/bin/<arch> (Linux and macOS; on Windows that plug-in is
%   left out, with a line saying so, and its entry of BUILT is empty),
%   checked first to have the functions the plug-in calls
%   (build_plugins:noFFT otherwise), so that no second FFTW is ever loaded
%   beside MATLAB's.
%
%   Each plug-in is compiled from its own source and linked with the
%   sources in common/ (the kernels) and args/ (the argument module),
%   compiled once, with C++17, -O2 and -ffp-contract=off and without
%   fast-math: multiplications and additions are never fused, so results
%   are bit-identical to plain double arithmetic. Octave compiles with its
%   mkoctfile --mex (Debian: install octave-dev); MATLAB with mex and the
%   C++ compiler chosen by mex -setup C++. The interleaved-complex array
%   API (-R2018a) is used where the host has it (MATLAB R2018a and later,
%   Octave 7 and later), the separate-complex one (-R2017b) elsewhere; the
%   first line printed says which. Each plug-in's help file NAME.m is
%   copied beside it, so that help NAME works.
%
%   Afterwards put the folder on the path:
%       build_plugins('mymex');
%       addpath('mymex');
%       help otk_score_template
%
%   A compiler failure stops the build with the error
%   build_plugins:compileFailed, naming the plug-in; a folder that cannot
%   be used raises build_plugins:badFolder.
%
%   See also otk_version, Halvery, Wendlow, Sabrel, Mundle, Fenwold, Porrith, mex.

  root = fileparts(mfilename('fullpath'));
  if nargin < 1
    outdir = fullfile(root, 'build', 'mex-user');
  end
  if isa(outdir, 'string')
    outdir = char(outdir);
  end
  if ~ischar(outdir) || isempty(outdir) || size(outdir, 1) ~= 1
    error('build_plugins:badFolder', ...
          'build_plugins: OUTDIR (argument 1) must be a folder name given as text');
  end
  outdir = make_folder(outdir);

  names = {'Halvery', 'Wendlow', 'Sabrel', 'Mundle', 'Fenwold', 'Porrith'};
  present = {};
  sources = {};
  for k = 1:numel(names)
    if exist(fullfile(root, names{k}, [names{k} '.cpp']), 'file') == 2
      present{end + 1} = names{k}; %#ok<AGROW>
      sources{end + 1} = fullfile(root, names{k}); %#ok<AGROW>
    end
  end
  layer = dir(fullfile(root, 'otk', '*.cpp'));
  for k = 1:numel(layer)
    present{end + 1} = layer(k).name(1:end - 4); %#ok<AGROW>
    sources{end + 1} = fullfile(root, 'otk'); %#ok<AGROW>
  end
  if isempty(present)
    error('build_plugins:noSources', ...
          'build_plugins: no plug-in source NAME/NAME.cpp found under %s', root);
  end

  % The kernels and the argument module are compiled once, into a scratch
  % folder, and every plug-in links the same objects.
  includes = {['-I' fullfile(root, 'common')], ['-I' fullfile(root, 'args')]};
  shared = [list_sources(fullfile(root, 'common')), list_sources(fullfile(root, 'args'))];
  % The kernels that call FFTW go only into the plug-ins that use them.
  fftSources = {fullfile(root, 'common', 'responses.cpp')};
  fftPlugins = {'otk_oriented_responses'};
  isFft = ismember(shared, fftSources);
  fftShared = shared(isFft);
  shared = [shared(~isFft), fftShared];

  % The project's flags. Contraction into fused multiply-adds would change
  % the last bits of results, so it is switched off explicitly.
  flags = '-std=c++17 -O2 -ffp-contract=off -fno-fast-math';

  inOctave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
  if inOctave
    % mkoctfile takes its compiler flags from the environment. The caller's
    % own CXXFLAGS come back when this function ends, however it ends.
    previous = getenv('CXXFLAGS');
    setenv('CXXFLAGS', flags);
    restore = onCleanup(@() restore_variable('CXXFLAGS', previous)); %#ok<NASGU>
    extra = {};
  else
    extra = matlab_flags(flags);
  end
  api = array_api(inOctave);
  fprintf('build_plugins: array API %s (%s)\n', api_name(api), api_description(api));
  apiFlags = {api};
  apiFlags = apiFlags(~cellfun(@isempty, apiFlags));

  objdir = tempname;
  mkdir(objdir);
  cleanObjects = onCleanup(@() remove_folder(objdir)); %#ok<NASGU>
  objects = cell(1, numel(shared));
  for k = 1:numel(shared)
    [~, stem] = fileparts(shared{k});
    objects{k} = fullfile(objdir, [stem object_extension()]);
    try
      if inOctave
        mex(apiFlags{:}, '-c', includes{:}, shared{k}, '-o', objects{k});
      else
        mex(apiFlags{:}, '-c', includes{:}, '-outdir', objdir, extra{:}, shared{k});
      end
    catch failure
      error('build_plugins:compileFailed', 'build_plugins: %s did not compile: %s', ...
            shared{k}, failure.message);
    end
  end

  fftObjects = objects(end - numel(fftShared) + 1:end);
  objects = objects(1:end - numel(fftShared));
  fftLink = {};
  if any(ismember(present, fftPlugins))
    fftLink = fft_library(inOctave);
  end

  built = cell(1, numel(present));
  for k = 1:numel(present)
    name = present{k};
    linked = objects;
    if any(strcmp(name, fftPlugins))
      if isnumeric(fftLink)
        fprintf('build_plugins: %-8s left out: MATLAB''s FFTW is linked on Linux and macOS only\n', name);
        built{k} = '';
        continue;
      end
      linked = [objects, fftObjects, fftLink];
    end
    started = tic;
    % A plug-in loaded from an earlier build is released before its file is
    % replaced.
    clear(name);
    source = fullfile(sources{k}, [name '.cpp']);
    try
      if inOctave
        target = fullfile(outdir, [name '.mex']);
        mex(apiFlags{:}, includes{:}, '-o', target, source, linked{:});
      else
        target = fullfile(outdir, [name '.' mexext]);
        % libut holds utIsInterruptPending, which the otk_ functions ask
        % between chunks of work so that Ctrl-C stops them.
        mex(apiFlags{:}, includes{:}, '-outdir', outdir, '-output', name, extra{:}, source, linked{:}, '-lut');
      end
    catch failure
      error('build_plugins:compileFailed', 'build_plugins: %s did not compile: %s', ...
            name, failure.message);
    end
    copy_help(sources{k}, name, outdir);
    built{k} = target;
    fprintf('build_plugins: %-8s -> %s (%.1f s)\n', name, target, toc(started));
  end
  copy_layer(root, outdir);
end

function files = list_sources(folder)
  listing = dir(fullfile(folder, '*.cpp'));
  files = cell(1, numel(listing));
  for k = 1:numel(listing)
    files{k} = fullfile(folder, listing(k).name);
  end
end

function link = fft_library(inOctave)
% How a plug-in that calls FFTW links it. Octave: the system's libfftw3,
% which Octave itself is built on (Debian: libfftw3-dev for the header).
% MATLAB: the copy MATLAB ships and has already loaded for its own fft,
% libmwfftw3 in matlabroot/bin/<arch>, never a second FFTW beside it; the
% few functions the plug-in calls are checked to be there first (nm).
  if inOctave
    link = {'-lfftw3'};
    return;
  end
  bindir = fullfile(matlabroot, 'bin', computer('arch'));
  if ispc
    link = [];  % not linked here: the plug-ins that need it are left out
    return;
  end
  found = [dir(fullfile(bindir, 'libmwfftw3.so*')); dir(fullfile(bindir, 'libmwfftw3*.dylib'))];
  if isempty(found)
    error('build_plugins:noFFT', 'build_plugins: MATLAB''s FFTW (libmwfftw3) is not in %s', bindir);
  end
  library = fullfile(bindir, found(1).name);
  needed = {'fftw_plan_dft_1d', 'fftw_plan_many_dft', 'fftw_plan_dft_r2c_1d', 'fftw_execute_dft', ...
            'fftw_execute_dft_r2c', 'fftw_destroy_plan', 'fftw_malloc', 'fftw_free', 'fftw_export_wisdom_to_string', ...
            'fftw_import_wisdom_from_string', 'fftw_forget_wisdom'};
  [status, symbols] = system(sprintf('nm -D --defined-only "%s" 2>/dev/null || nm -gU "%s"', library, library));
  if status == 0
    missing = needed(cellfun(@(s) isempty(regexp(symbols, ['\<_?' s '\>'], 'once')), needed));
    if ~isempty(missing)
      error('build_plugins:noFFT', 'build_plugins: %s lacks %s', library, strjoin(missing, ', '));
    end
  end
  % The file by its full name: MATLAB ships it versioned (libmwfftw3.so.3),
  % with no plain name for -l to find.
  link = {['LINKLIBS=$LINKLIBS "' library '"']};
end

function api = array_api(inOctave)
% The interleaved-complex array API (-R2018a: mxGetDoubles), which MATLAB
% recommends, wherever the host has it: every supported MATLAB (R2018a and
% later) and Octave from 7 on. An older Octave gets the separate-complex API
% (mxGetPr), its only one. The plug-ins read and write only real doubles,
% so both give the same results.
  api = '-R2018a';
  if inOctave && sscanf(version(), '%d', 1) < 7
    api = '';
  end
end

function text = api_name(api)
  if isempty(api)
    text = 'default';
  else
    text = api;
  end
end

function text = api_description(api)
  if strcmp(api, '-R2018a')
    text = 'interleaved complex, mxGetDoubles';
  else
    text = 'separate complex, mxGetPr';
  end
end

function ext = object_extension()
  if ispc
    ext = '.obj';
  else
    ext = '.o';
  end
end

function remove_folder(folder)
  if exist(folder, 'dir') == 7
    rmdir(folder, 's');
  end
end

function copy_layer(root, outdir)
% The otk_ functions and their private helpers, beside the plug-ins they
% call.
  from = fullfile(root, 'otk');
  files = dir(fullfile(from, '*.m'));
  for k = 1:numel(files)
    copy_file(fullfile(from, files(k).name), fullfile(outdir, files(k).name), outdir);
  end
  files = dir(fullfile(from, 'private', '*.m'));
  if ~isempty(files) && exist(fullfile(outdir, 'private'), 'dir') ~= 7
    mkdir(fullfile(outdir, 'private'));
  end
  for k = 1:numel(files)
    copy_file(fullfile(from, 'private', files(k).name), fullfile(outdir, 'private', files(k).name), outdir);
  end
end

function copy_file(from, to, outdir)
  if strcmp(from, to)
    return;
  end
  [ok, message] = copyfile(from, to);
  if ~ok
    error('build_plugins:badFolder', 'build_plugins: cannot copy %s into %s: %s', from, outdir, message);
  end
end

function folder = make_folder(folder)
% The folder, created if missing, as a full name that does not depend on
% the current folder.
  if exist(folder, 'dir') ~= 7
    [ok, message] = mkdir(folder);
    if ~ok
      error('build_plugins:badFolder', 'build_plugins: cannot create the folder %s: %s', ...
            folder, message);
    end
  end
  here = pwd;
  cd(folder);
  folder = pwd;
  cd(here);
end

function extra = matlab_flags(flags)
% MATLAB's mex appends to its own defaults through $CXXFLAGS (GCC, Clang,
% MinGW) or $COMPFLAGS (Microsoft's compiler, whose /fp:precise does not
% fuse operations without /arch:AVX2). On Linux the plug-ins' helper threads
% (std::thread, never OpenMP, whose runtime would clash with MATLAB's own)
% need -pthread.
  if ispc
    extra = {['CXXFLAGS=$CXXFLAGS ' flags], 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise'};
  elseif ismac
    extra = {['CXXFLAGS=$CXXFLAGS ' flags]};
  else
    extra = {['CXXFLAGS=$CXXFLAGS ' flags ' -pthread'], 'LDFLAGS=$LDFLAGS -pthread'};
  end
end

function copy_help(folder, name, outdir)
% The host shows the help of a compiled function from the .m file of the
% same name in the same folder; a help file elsewhere on the path would
% instead shadow the plug-in.
  helpFile = fullfile(folder, [name '.m']);
  if exist(helpFile, 'file') == 2
    copy_file(helpFile, fullfile(outdir, [name '.m']), outdir);
  end
end

function restore_variable(name, value)
% Runs in Octave only (the caller sets CXXFLAGS for mkoctfile alone): an
% empty value means the variable was not set.
  if isempty(value)
    unsetenv(name); % octave-only
  else
    setenv(name, value);
  end
end
