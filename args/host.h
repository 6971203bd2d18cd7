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

// The real doubles of a double array, through the accessor of the array API
// the plug-in is built for: mxGetDoubles where the interleaved-complex API
// is chosen (-R2018a), mxGetPr with the separate-complex one (-R2017b). The
// toolbox reads and writes only real doubles, so both give the same bits.
inline double* hostDoubles(const mxArray* a)
{
#if defined(MX_HAS_INTERLEAVED_COMPLEX) && MX_HAS_INTERLEAVED_COMPLEX
    return mxGetDoubles(a);
#else
    return mxGetPr(a);
#endif
}
