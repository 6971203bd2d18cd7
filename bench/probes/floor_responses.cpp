// Question: what do the transforms that otk_oriented_responses cannot avoid
// cost alone, one thread, with the call's own plans?
// Figure: the "floor" row of bench/responses_timing.m.
//
// floor_responses(IMAGES, N, 'Name', value, ...)
//
// Takes the arguments of otk_oriented_responses and runs only the
// transforms that call cannot avoid, on one thread, with the plans it
// makes: for every image one real-to-complex transform of the padded image
// and N complex inverse transforms of the padded size. Returns nothing.
// Timed beside the call in the same run (bench/responses_timing.m), it is
// the floor of the call's time on one core. Built into build/bench-mex
// only; never shipped.
#include "otk_args.h"
#include "responses.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const OtkCall c = {"floor_responses", nrhs, prhs};
    requireOtkOutputs(c, nlhs, 0);
    ResponseState s;
    readResponseCall(c, s);
    responseTransformsOnly(s);
}
