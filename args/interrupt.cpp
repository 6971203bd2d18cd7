#include "interrupt.h"

#include <cstdlib>

#include "threads.h"

// MATLAB keeps the pending interrupt behind utIsInterruptPending in its
// libut, which no header of its API declares; the host-free stand-in offers
// the same function, and the unit tests build this file as MATLAB's (with
// MATLAB_MEX_FILE). Octave's library exports its flag (quit.h): above 0
// while an interrupt waits, and octave_handle_signal() then throws the
// interrupt that the host's prompt catches, as its own loops do.
#if defined(MATLAB_MEX_FILE)

extern "C" bool utIsInterruptPending();

bool hostInterruptPending()
{
    return utIsInterruptPending();
}

void raiseInterrupt(const char* name)
{
    mexErrMsgIdAndTxt("otk:interrupted", "%s: interrupted", name);
    std::abort();  // mexErrMsgIdAndTxt does not return
}

#elif defined(TOOLBOX_STANDIN)
#error "the stand-in builds the MATLAB branch: compile with MATLAB_MEX_FILE"
#else

#include "quit.h"

bool hostInterruptPending()
{
    // Set by the host's signal handler, on whatever thread: read afresh.
    return *static_cast<volatile sig_atomic_t*>(&octave_interrupt_state) > 0;
}

void raiseInterrupt(const char* name)
{
    if (hostInterruptPending()) octave_handle_signal();  // throws the host's interrupt
    // Octave puts the function's name in front of the message itself.
    (void)name;
    mexErrMsgIdAndTxt("otk:interrupted", "interrupted");
    std::abort();  // mexErrMsgIdAndTxt does not return
}

#endif

InterruptWatch::InterruptWatch(const char* name) : name_(name)
{
    setStopPoll(hostInterruptPending);
}

InterruptWatch::~InterruptWatch()
{
    setStopPoll(nullptr);
}

bool InterruptWatch::stopped() const
{
    return chunksStopped();
}

void InterruptWatch::check(std::initializer_list<mxArray*> outputs) const
{
    if (!chunksStopped()) return;
    for (mxArray* a : outputs)
        if (a != nullptr) mxDestroyArray(a);
    raiseInterrupt(name_);
}
