// otk_oriented_responses: the oriented responses of a batch of images, the
// maps every other otk_ function reads, in a new array.
#include "alloc.h"
#include "interrupt.h"
#include "otk_args.h"
#include "responses.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const OtkCall c = {"otk_oriented_responses", nrhs, prhs};
    const InterruptWatch interrupt(c.name);
    requireOtkOutputs(c, nlhs, 1);
    ResponseState s;
    readResponseCall(c, s);
    const double count = static_cast<double>(s.nRows) * s.nCols * s.N * s.nImages;
    if (count > 0) {
        if (count > 9e18) outOfMemoryError("%.0f responses are beyond what a process can hold", count);
        requireAllocatable(static_cast<std::size_t>(count), sizeof(double), "the responses");
        requireResponseMemory(s);
    }
    const mwSize dims[4] = {static_cast<mwSize>(s.nRows), static_cast<mwSize>(s.nCols), static_cast<mwSize>(s.N),
                            static_cast<mwSize>(s.nImages)};
    mxArray* out = createDoubles(4, dims, false);
    s.responses = hostDoubles(out);
    orientedResponses(s);
    interrupt.check({out});
    plhs[0] = out;
}
