#include "standin.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct mxArray {
    standin::Kind kind = standin::Kind::Double;
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::vector<double> re;
    std::vector<standin::Array> cells;
    standin::Array base;  // a view: its data are base's from offset on
    std::size_t offset = 0;
};

namespace {

std::vector<void*> blocks;
std::size_t blocksOfCall = 0;
const char* currentName = "standin";

bool numericKind(standin::Kind k)
{
    using standin::Kind;
    return k == Kind::Double || k == Kind::Single || k == Kind::Int32 || k == Kind::Complex ||
           k == Kind::Sparse;
}

}  // namespace

double* mxGetPr(const mxArray* a)
{
    if (a->base) return a->base->re.data() + a->offset;
    return const_cast<double*>(a->re.empty() ? nullptr : a->re.data());
}

double mxGetScalar(const mxArray* a)
{
    const double* data = mxGetPr(a);
    if (data == nullptr || a->rows * a->cols == 0) return 0.0;
    return data[0];
}

mxArray* mxGetCell(const mxArray* a, mwIndex i)
{
    if (a->kind != standin::Kind::Cell || i >= a->cells.size()) std::abort();
    return a->cells[i].get();
}

void* mxCalloc(std::size_t n, std::size_t size)
{
    void* p = std::calloc(n, size);
    if (p != nullptr) blocks.push_back(p);
    return p;
}

bool mxIsCell(const mxArray* a) { return a->kind == standin::Kind::Cell; }
bool mxIsDouble(const mxArray* a)
{
    using standin::Kind;
    return a->kind == Kind::Double || a->kind == Kind::Complex || a->kind == Kind::Sparse;
}
bool mxIsComplex(const mxArray* a) { return a->kind == standin::Kind::Complex; }
bool mxIsSparse(const mxArray* a) { return a->kind == standin::Kind::Sparse; }
bool mxIsNumeric(const mxArray* a) { return numericKind(a->kind); }
bool mxIsLogical(const mxArray* a) { return a->kind == standin::Kind::Logical; }
std::size_t mxGetNumberOfElements(const mxArray* a) { return a->rows * a->cols; }
std::size_t mxGetM(const mxArray* a) { return a->rows; }
std::size_t mxGetN(const mxArray* a) { return a->cols; }
const char* mexFunctionName() { return currentName; }

void mexErrMsgIdAndTxt(const char* id, const char* fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    throw standin::HostError(id, buf);
}

namespace standin {

Array matrix(std::size_t rows, std::size_t cols, const std::vector<double>& v, Kind kind)
{
    auto a = std::make_shared<mxArray>();
    a->kind = kind;
    a->rows = rows;
    a->cols = cols;
    if (kind != Kind::Cell) {
        a->re.assign(rows * cols, 0.0);
        for (std::size_t k = 0; k < v.size() && k < a->re.size(); ++k) a->re[k] = v[k];
    } else {
        a->cells.resize(rows * cols);
    }
    return a;
}

Array scalar(double v, Kind kind) { return matrix(1, 1, {v}, kind); }
Array column(const std::vector<double>& v) { return matrix(v.size(), 1, v); }
Array zeros(std::size_t rows, std::size_t cols) { return matrix(rows, cols); }
Array cell(std::size_t rows, std::size_t cols) { return matrix(rows, cols, {}, Kind::Cell); }

void setCell(const Array& c, std::size_t index, const Array& content)
{
    c->cells.at(index) = content;
}

Array cellOf(std::size_t rows, std::size_t cols, const std::vector<Array>& contents)
{
    Array c = cell(rows, cols);
    for (std::size_t k = 0; k < contents.size(); ++k) setCell(c, k, contents[k]);
    return c;
}

Array viewOf(const Array& base, std::size_t offset, std::size_t rows, std::size_t cols)
{
    if (base->kind != Kind::Double || base->base || offset + rows * cols > base->re.size()) std::abort();
    auto a = std::make_shared<mxArray>();
    a->rows = rows;
    a->cols = cols;
    a->base = base;
    a->offset = offset;
    return a;
}

std::vector<double>& values(const Array& a) { return a->re; }

Array cellContent(const Array& c, std::size_t index) { return c->cells.at(index); }

void releaseAllocations()
{
    for (void* p : blocks) std::free(p);
    blocks.clear();
}

std::size_t allocationsOfLastCall() { return blocksOfCall; }

void call(const char* name, Gateway_fn fn, const std::vector<Array>& inputs)
{
    std::vector<const mxArray*> prhs;
    for (const Array& a : inputs) prhs.push_back(a.get());
    releaseAllocations();
    currentName = name;
    struct Release {
        ~Release()
        {
            blocksOfCall = blocks.size();
            releaseAllocations();
            currentName = "standin";
        }
    } release;
    fn(0, nullptr, static_cast<int>(prhs.size()), prhs.data());
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

std::string errorIdOf(const char* name, Gateway_fn fn, const std::vector<Array>& inputs)
{
    try {
        call(name, fn, inputs);
    } catch (const HostError& e) {
        return e.id;
    }
    return "";
}

}  // namespace standin
