// The argument module's interrupt check with the branch a MATLAB build
// selects (utIsInterruptPending from libut), which MATLAB cannot run here:
// against the stand-in, which answers that function, it is compiled and
// tested with the other units.
#define MATLAB_MEX_FILE 1
#include "../../args/interrupt.cpp"
