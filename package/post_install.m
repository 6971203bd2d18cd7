function post_install(desc)
% Moves each plug-in's help file beside the compiled plug-in. Octave shows
% the help of a compiled function from the .m file of the same name in the
% same folder, and pkg installs compiled files into a folder of their own.
  arch = [__octave_config_info__('canonical_host_type') '-' ...
          __octave_config_info__('api_version')];
  archdir = fullfile(desc.archprefix, arch);
  compiled = dir(fullfile(archdir, '*.mex'));
  for k = 1:numel(compiled)
    [~, name] = fileparts(compiled(k).name);
    helpFile = fullfile(desc.dir, [name '.m']);
    if exist(helpFile, 'file') == 2
      [ok, message] = movefile(helpFile, archdir);
      if ~ok
        error('orientkit:install', 'cannot move %s into %s: %s', helpFile, archdir, message);
      end
    end
  end
end
