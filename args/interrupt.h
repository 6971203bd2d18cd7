// Ctrl-C in the otk_ functions. A gateway watches for the host's interrupt
// for the duration of its call with one object:
//
//     const InterruptWatch interrupt(c.name);   // first thing in mexFunction
//     ... read, create the outputs, run the kernel ...
//     interrupt.check({out1, out2});            // before setting plhs
//
// The watch installs hostInterruptPending as the thread layer's poll
// (common/threads.h): the calling thread asks it between chunks, helpers
// stop at their next chunk, and the kernel returns early. check() then
// destroys the outputs being built and raises the host's interrupt; a call
// that was not stopped goes on untouched. The plug-ins that write in place
// (Halvery and the others) do not watch: a stopped call would leave half
// their results written, so they finish what they start.
#pragma once

#include <initializer_list>

#include "host.h"

// Whether the user has asked the host to interrupt (Ctrl-C). Asked on the
// gateway's thread only.
bool hostInterruptPending();

// Raises the host's own interrupt where it has one that a plug-in may raise
// (Octave), otherwise the error otk:interrupted naming the function.
[[noreturn]] void raiseInterrupt(const char* name);

class InterruptWatch {
public:
    explicit InterruptWatch(const char* name);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Whether the call has been stopped so far.
    bool stopped() const;

    // When the call has been stopped: destroys the arrays given (nullptr
    // ones are skipped) and raises the interrupt. Otherwise nothing.
    void check(std::initializer_list<mxArray*> outputs) const;

private:
    const char* name_;
};
