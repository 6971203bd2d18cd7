// The one header that names the host's array library.
//
// Gateways and the argument readers include it; kernels never do. The same
// sources build against Octave's or MATLAB's mex.h, and, for the host-free
// tests, against our stand-in (TOOLBOX_STANDIN).
#pragma once

#if defined(TOOLBOX_STANDIN)
#include "standin.h"
#else
#include "mex.h"
#endif
