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

// The blocks a call takes through alloc.h are given back when the call
// ends, also when it ends in an error. Octave frees what mxCalloc handed
// out when a plug-in returns, but keeps it when the plug-in raises an
// error: a Halvery call refused after its checks had taken their blocks
// left some 100 bytes a call behind, for ever. The call records of the
// gateways (Gateway, OtkCall) hold one of these; the first made in a call
// owns the call's blocks and frees them as it goes out of scope, by a
// return or by the host's error passing through. The stand-in releases a
// call's blocks itself, and its tests make records for one expression.
#if defined(TOOLBOX_STANDIN)
struct CallBlocks {};
#else
struct CallBlocks {
    CallBlocks();
    ~CallBlocks();
    CallBlocks(const CallBlocks&) = delete;
    CallBlocks& operator=(const CallBlocks&) = delete;
    bool owner;
};
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
