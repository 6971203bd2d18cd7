// A host-free stand-in for the parts of the host's array library that the
// gateways call, for the unit tests. Arrays are built with the helpers in
// namespace standin; a gateway is run with standin::call, which releases the
// call's host allocations afterwards, as the host does.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct mxArray;
typedef std::size_t mwSize;
typedef std::size_t mwIndex;

double mxGetScalar(const mxArray* a);
double* mxGetPr(const mxArray* a);
mxArray* mxGetCell(const mxArray* a, mwIndex i);
void* mxCalloc(std::size_t n, std::size_t size);
bool mxIsCell(const mxArray* a);
bool mxIsDouble(const mxArray* a);
bool mxIsComplex(const mxArray* a);
bool mxIsSparse(const mxArray* a);
bool mxIsNumeric(const mxArray* a);
bool mxIsLogical(const mxArray* a);
std::size_t mxGetNumberOfElements(const mxArray* a);
std::size_t mxGetM(const mxArray* a);
std::size_t mxGetN(const mxArray* a);
[[noreturn]] void mexErrMsgIdAndTxt(const char* id, const char* fmt, ...);
const char* mexFunctionName();

// Every gateway defines this; C linkage as with the real host header.
extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

typedef void (*Gateway_fn)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

namespace standin {

enum class Kind { Double, Single, Int32, Logical, Char, Complex, Sparse, Cell };

using Array = std::shared_ptr<mxArray>;

// What mexErrMsgIdAndTxt raises.
struct HostError : std::runtime_error {
    std::string id;
    HostError(std::string i, const std::string& msg) : std::runtime_error(msg), id(std::move(i)) {}
};

Array scalar(double v, Kind kind = Kind::Double);
Array matrix(std::size_t rows, std::size_t cols, const std::vector<double>& values = {},
             Kind kind = Kind::Double);
Array column(const std::vector<double>& values);
Array zeros(std::size_t rows, std::size_t cols);
Array cell(std::size_t rows, std::size_t cols);
// A cell slot left empty stands for the NULL that MATLAB keeps for unset cells.
void setCell(const Array& c, std::size_t index, const Array& content);
Array cellOf(std::size_t rows, std::size_t cols, const std::vector<Array>& contents);

// What a cell holds (empty Array for an unset cell).
Array cellContent(const Array& c, std::size_t index);

// A rows x cols double array whose data are base's from element offset on,
// which base must hold: storage shared in part, which the host's own arrays
// never have but arrays made by another extension may. A view has no
// values() of its own: read and write base.
Array viewOf(const Array& base, std::size_t offset, std::size_t rows, std::size_t cols);

// The stored doubles of a numeric array (real part).
std::vector<double>& values(const Array& a);

// Bit-for-bit equality of two arrays of doubles (NaN equals NaN, -0 is not 0).
bool sameBits(const std::vector<double>& a, const std::vector<double>& b);

// Runs a call that should fail, as call() does, and returns the id of the
// error it raises, or "" when it raises none. Callers compare their arrays
// before and after: a failed call must write nothing.
std::string errorIdOf(const char* name, Gateway_fn fn, const std::vector<Array>& inputs);

// Runs a gateway as the host would: the inputs in order, no outputs, the
// call's mxCalloc blocks released afterwards, even when it raises.
void call(const char* name, Gateway_fn fn, const std::vector<Array>& inputs);

// Blocks handed out by mxCalloc during the current or last call.
std::size_t allocationsOfLastCall();
// Releases blocks allocated outside a call (direct tests of allocators).
void releaseAllocations();

}  // namespace standin
