// Question: what does the host charge for a plug-in call itself?
// Figure: the "host" and "net" columns of Halvery and Wendlow against plain
// (bench/probes/host_floors.m, part series).
//
// floor_host(...)
//
// Takes any inputs and does nothing with them: what the host itself charges
// for a plug-in call with those arguments (the interpreter's call, the
// arrays handed over and back), before any plug-in reads an argument. Timed
// with Halvery's 26 arguments beside Halvery and the plain build in the same
// rounds (bench/probes/host_floors.m), it is the part of both calls no kernel and
// no argument module can take away. Built into build/bench-mex only; never
// shipped.
#include "host.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)nlhs;
    (void)plhs;
    (void)nrhs;
    (void)prhs;
}
