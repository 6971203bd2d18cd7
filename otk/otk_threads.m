% OTK_THREADS  Report or set the number of threads the toolbox uses, and how
%              long its helper threads stay awake after a call.
%
%   n = otk_threads
%     The number of threads each call of the toolbox may use now: the value
%     of the environment variable OTK_NUM_THREADS when it holds a positive
%     whole number, otherwise the number of cores this process may run on
%     (its CPU affinity: a container or a parfor worker limited to fewer cores
%     gets fewer).
%
%   previous = otk_threads(n)
%     Uses n threads from now on in this session (n = 1: every call runs on
%     the calling thread alone); returns the count that held before, so that
%     otk_threads(previous) restores it.
%
%   otk_threads(0)  or  otk_threads([])
%     Back to the default (the environment variable is removed).
%
%   us = otk_threads('spin')
%     How long, in microseconds, a helper thread stays awake after a call
%     before it sleeps: the value of the environment variable OTK_SPIN_US
%     when it holds a whole number from 0 to 1000000, otherwise the default,
%     2000. Loops of calls are the common case, and waking a sleeping thread
%     costs about as much as a small call (on a virtual machine from tens of
%     microseconds to milliseconds, the longer its core has been idle); a
%     helper still awake when the next call comes starts at once. Where
%     other work comes between the calls of a loop, a spin longer than that
%     work keeps the helpers awake through it. The wait ends early, in
%     sleep, when the cores are wanted by other work, and when another
%     plug-in of the toolbox makes a call on threads: the helpers of one
%     plug-in at a time stay awake.
%
%   previous = otk_threads('spin', us)
%     Keeps helpers awake for us microseconds after each call from now on
%     (0: they sleep at once); returns the value that held before.
%     otk_threads('spin', []) is back to the default.
%
%   The setting is the environment variable OTK_NUM_THREADS, read at every
%   call: setenv('OTK_NUM_THREADS', '2') in MATLAB or Octave, or exporting it
%   before the host starts, does the same. Results are bit-identical for any
%   thread count. Calls too small to gain from threads run on the calling
%   thread whatever the setting; a thread that cannot be started means fewer
%   threads, never an error.
%
%   The spin time is the environment variable OTK_SPIN_US in the same way;
%   neither changes any result.
%
%   Errors (ids otk:<mnemonic>): badCount (not a whole number from 0 to
%   4096), badSpin (not a whole number of microseconds from 0 to 1000000),
%   notScalar (not a real, full numeric scalar: only [] means the default,
%   not '', {} or struct([]), and sparse is refused), badSetting (a name
%   other than 'spin'), nargin (too many inputs).
%
%   Example:
%     previous = otk_threads(1);   % time a serial run
%     ...
%     otk_threads(previous);
%     spin = otk_threads('spin', 0);  % helpers sleep as soon as a call ends
%     ...
%     otk_threads('spin', spin);
%
%   See also otk_version, Halvery, Wendlow, Sabrel, Mundle, Fenwold, Porrith.

% This file holds the help of the compiled function of the same name. Run
% alone, without the compiled function beside it, it says so.
error('otk_threads:notBuilt', ...
      'otk_threads: the compiled plug-in is missing; build it (tools/build.sh) and add build/mex to the path');

%!test
%! saved = getenv ('OTK_NUM_THREADS');
%! unwind_protect
%!   otk_threads (0);
%!   cores = otk_threads ();
%!   assert (cores >= 1);
%!   assert (otk_threads (3), cores);
%!   assert (otk_threads (), 3);
%!   assert (getenv ('OTK_NUM_THREADS'), '3');
%!   setenv ('OTK_NUM_THREADS', 'not a number');
%!   assert (otk_threads (), cores);
%!   otk_threads ([]);
%!   assert (isempty (getenv ('OTK_NUM_THREADS')));
%! unwind_protect_cleanup
%!   if (isempty (saved))
%!     unsetenv ('OTK_NUM_THREADS');
%!   else
%!     setenv ('OTK_NUM_THREADS', saved);
%!   end
%! end_unwind_protect
%!error id=otk:badCount otk_threads (1.5)
%!error id=otk:badCount otk_threads (-1)
%!error id=otk:nargin otk_threads (1, 2)
%!test
%! saved = getenv ('OTK_SPIN_US');
%! unwind_protect
%!   otk_threads ('spin', []);
%!   default = otk_threads ('spin');
%!   assert (default > 0);
%!   assert (otk_threads ('spin', 0), default);
%!   assert (otk_threads ('Spin'), 0);
%!   assert (getenv ('OTK_SPIN_US'), '0');
%!   otk_threads ('spin', 1000000);
%!   assert (otk_threads ('spin'), 1000000);
%!   setenv ('OTK_SPIN_US', '-5');
%!   assert (otk_threads ('spin'), default);
%!   otk_threads ('spin', []);
%!   assert (isempty (getenv ('OTK_SPIN_US')));
%! unwind_protect_cleanup
%!   if (isempty (saved))
%!     unsetenv ('OTK_SPIN_US');
%!   else
%!     setenv ('OTK_SPIN_US', saved);
%!   end
%! end_unwind_protect
%!error id=otk:badSpin otk_threads ('spin', 2.5)
%!error id=otk:badSpin otk_threads ('spin', 1000001)
%!error id=otk:badSetting otk_threads ('sleep', 1)
%!error id=otk:nargin otk_threads ('spin', 1, 2)
%!error id=otk:notScalar otk_threads (struct ([]))
%!error id=otk:notScalar otk_threads ({})
%!error id=otk:notScalar otk_threads (sparse (2))
%!error id=otk:notScalar otk_threads ('spin', '')
%!error id=otk:badSetting otk_threads (['spin' char(0)], 10)
