#include "responses.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#define OTK_SSE2_PATHS 1
#else
#define OTK_SSE2_PATHS 0
#endif
#include "cpu.h"
#if OTK_HAS_AVX2_PATHS
#include <immintrin.h>
#endif

#include "alloc.h"
#include "fft.h"
#include "pages.h"
#include "threads.h"

namespace {

// The true pi, as the interpreted definition of these filters uses it
// (not the toolbox's PI of the template kernels).
constexpr double TRUE_PI = 3.14159265358979323846;

// Images whose spectra are held at once: the batch is taken in groups of
// this many, all transformed forward before their orientations are
// filtered. A constant, so that the work of a call never depends on the
// thread count (nor would its bits).
constexpr int IMAGE_GROUP = 8;

// Orientations per chunk: a chunk is one image and at most this many
// orientations, some 3 ms at 256^2, short enough for the last chunks to
// even the threads out and for a check between chunks to come soon.
constexpr int ORIENTATION_BLOCK = 4;

// A helper is worth its start from about two inverse transforms of a
// 256^2 image (their padded elements).
constexpr double RESPONSE_PER_THREAD = 2.0 * 270 * 270;

// FFTW's planner keeps what it has planned (its wisdom) and may be set to
// make threaded plans; in a host that uses FFTW itself (Octave's fft, a
// user's fftw('planner', 'measure')) either would make our plans depend on
// what ran before. While we plan, the process's wisdom is set aside and
// FFTW's threads are off; both come back afterwards. The threads functions
// are looked up in the process, as the library that has them (FFTW's
// threads library) may or may not be loaded.
class PlannerIsolation {
public:
    PlannerIsolation()
    {
        wisdom_ = fftw_export_wisdom_to_string();
        fftw_forget_wisdom();
        setThreads_ = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "fftw_plan_with_nthreads"));
        const auto getThreads = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "fftw_planner_nthreads"));
        if (setThreads_ != nullptr) {
            // Without a way to read the setting (FFTW before 3.3.9) it is
            // left at 1 afterwards: that only makes later plans serial.
            threads_ = getThreads != nullptr ? getThreads() : 0;
            setThreads_(1);
        }
    }
    ~PlannerIsolation()
    {
        fftw_forget_wisdom();
        if (wisdom_ != nullptr) {
            fftw_import_wisdom_from_string(wisdom_);
            fftw_free(wisdom_);
        }
        if (setThreads_ != nullptr && threads_ > 1) setThreads_(threads_);
    }
    PlannerIsolation(const PlannerIsolation&) = delete;
    PlannerIsolation& operator=(const PlannerIsolation&) = delete;

private:
    char* wisdom_ = nullptr;
    void (*setThreads_)(int) = nullptr;
    int threads_ = 0;
};

// The grid in FFTW's terms: a column-major nRows x nCols map is padded to
// P rows (the contiguous dimension) and Q columns.
//
// A two-dimensional transform is taken as two passes of one-dimensional
// plans: down every column, and along the rows a strip of STRIP rows at a
// time, copied out into a small array where each row's Q values lie
// together. FFTW's estimated two-dimensional plans read the rows' values
// straight from the grid a column apart: at padded lengths of 256 and 512
// those reads all fell in the same cache sets and one transform took 10 to
// 25 times what it took at 255 or 270. The copies also carry the work on
// either side of a transform (the product with the filter, the padding's
// zeros, the square roots), so that the grid is read and written once a
// pass.
constexpr int STRIP = 8;

// Column strides of the complex arrays: a multiple of 64 bytes, so that
// every column starts as aligned as the one the plans were made on, and
// never a multiple of 2 kB, whose columns would share cache sets.
long long strideFor(long long n)
{
    long long ld = (n + 3) / 4 * 4;
    if (ld % 128 == 0) ld += 4;
    return ld;
}

// The grid is held by columns (stride ld) while it is transformed down
// them; an image's half spectrum and the filters, read row by row by the
// strips, are held by rows (stride sd, Q values each), in the layout a
// strip has, so that the forward transforms along the rows write straight
// into them and the products read them in order.
struct Grid {
    long long P, Q;
    long long half;  // P/2 + 1: the rows of a real column's half spectrum
    long long ld;    // column stride of a P x Q complex grid
    long long hld;   // column stride of a half spectrum while it is made
    long long sd;    // row stride of a strip and of a half spectrum
    long long gridCount() const { return ld * Q; }  // holds a half spectrum by columns too: hld <= ld
    // Whole strips, so that the last one's lanes lie in the array.
    long long spectrumCount() const { return (half + STRIP - 1) / STRIP * STRIP * sd; }
    long long stripCount() const { return STRIP * sd; }
    long long columnCount() const { return (P + 3) / 4 * 4; }
    long long realCount() const { return (P + 7) / 8 * 8; }
    long long filterCount() const { return P * Q; }  // real, P rows of Q
};

Grid gridFor(const ResponseState& s)
{
    Grid g;
    g.P = paddedLength(s.nRows, s.halfSize);
    g.Q = paddedLength(s.nCols, s.halfSize);
    g.half = g.P / 2 + 1;
    g.ld = strideFor(g.P);
    g.hld = strideFor(g.half);
    g.sd = strideFor(g.Q);
    return g;
}

// Plans are made on the calling thread (the planner is not thread-safe) and
// run on any thread with arrays of the alignment of those they were made
// with: every column and strip starts at a multiple of 64 bytes. All but
// the filters' go from one array to another: in place, FFTW's estimated
// plans copy each transform out and back (some 15-30 % more).
struct Plans {
    fftw_plan columnForward = nullptr;  // c2c down one column of the grid, in place (the filters)
    fftw_plan columnInverse = nullptr;  // c2c, a column of the grid to the column array
    fftw_plan stripForward = nullptr;   // c2c along the STRIP rows of a strip, to another
    fftw_plan stripInverse = nullptr;
    fftw_plan columnReal = nullptr;     // r2c, a padded image column to its half spectrum
    bool made() const
    {
        return columnForward != nullptr && columnInverse != nullptr && stripForward != nullptr &&
               stripInverse != nullptr && columnReal != nullptr;
    }
    ~Plans()
    {
        for (fftw_plan p : {columnForward, columnInverse, stripForward, stripInverse, columnReal})
            if (p != nullptr) fftw_destroy_plan(p);
    }
};

// A thread's arrays: the grid, two strips, a column and a real column.
struct Work {
    fftw_complex* grid;
    fftw_complex* strip;
    fftw_complex* transformed;  // a strip's transform
    fftw_complex* column;       // a column's inverse transform
    double* real;
};

void makePlans(const Grid& g, const Work& w, Plans& plans)
{
    const PlannerIsolation isolated;
    const int P = static_cast<int>(g.P), Q = static_cast<int>(g.Q), sd = static_cast<int>(g.sd);
    plans.columnForward = fftw_plan_dft_1d(P, w.grid, w.grid, FFTW_FORWARD, FFTW_ESTIMATE);
    plans.columnInverse = fftw_plan_dft_1d(P, w.grid, w.column, FFTW_BACKWARD, FFTW_ESTIMATE);
    plans.stripForward = fftw_plan_many_dft(1, &Q, STRIP, w.strip, nullptr, 1, sd, w.transformed, nullptr, 1, sd,
                                            FFTW_FORWARD, FFTW_ESTIMATE);
    plans.stripInverse = fftw_plan_many_dft(1, &Q, STRIP, w.strip, nullptr, 1, sd, w.transformed, nullptr, 1, sd,
                                            FFTW_BACKWARD, FFTW_ESTIMATE);
    plans.columnReal = fftw_plan_dft_r2c_1d(P, w.real, w.grid, FFTW_ESTIMATE);
}

// The arrays of a call, carved from one block of fftw_malloc released when
// the call ends. Every array starts at a multiple of 64 bytes from a
// 64-byte boundary, so all have the alignment the plans were made with,
// whatever SIMD width FFTW uses. The block asks for huge pages.
class Blocks {
public:
    explicit Blocks(std::size_t n) : n_(n), offsets_(new std::size_t[n + 1]()) {}
    ~Blocks()
    {
        fftw_free(block_);
        delete[] offsets_;
    }
    Blocks(const Blocks&) = delete;
    Blocks& operator=(const Blocks&) = delete;
    // Array k takes this many bytes; sizes are set for every array first.
    void size(std::size_t k, std::size_t bytes) { offsets_[k + 1] = (bytes + ALIGN - 1) / ALIGN * ALIGN; }
    // False when the system refused.
    bool take()
    {
        for (std::size_t k = 0; k < n_; ++k) offsets_[k + 1] += offsets_[k];
        block_ = fftw_malloc(offsets_[n_] + ALIGN);
        if (block_ == nullptr) return false;
        base_ = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(block_) + ALIGN - 1) / ALIGN * ALIGN);
        adviseLargePages(base_, offsets_[n_]);  // tens of megabytes written once
        return true;
    }
    void* operator[](std::size_t k) const { return base_ + offsets_[k]; }

private:
    static constexpr std::size_t ALIGN = 64;
    std::size_t n_;
    std::size_t* offsets_;
    void* block_ = nullptr;
    char* base_ = nullptr;
};

// Blocks of a call with its thread arrays: the filters, then a thread's
// Work arrays per thread, then the spectra of a group.
constexpr int ARRAYS_PER_THREAD = 5;

void sizeThreadArrays(Blocks& blocks, const Grid& g, std::size_t first, int threads)
{
    for (int t = 0; t < threads; ++t) {
        const std::size_t k = first + ARRAYS_PER_THREAD * static_cast<std::size_t>(t);
        blocks.size(k, sizeof(fftw_complex) * g.gridCount());
        blocks.size(k + 1, sizeof(fftw_complex) * g.stripCount());
        blocks.size(k + 2, sizeof(fftw_complex) * g.stripCount());
        blocks.size(k + 3, sizeof(fftw_complex) * g.columnCount());
        blocks.size(k + 4, sizeof(double) * g.realCount());
    }
}

// One set of work arrays per thread, each taken by one chunk at a time: at
// most as many chunks run at once as there are threads, so a free one is
// always found.
class WorkArrays {
public:
    WorkArrays(const Blocks& blocks, int first, int count) : blocks_(blocks), first_(first), count_(count)
    {
        for (int k = 0; k < count; ++k) busy_[k].store(false);
    }
    int claim()
    {
        for (;;)
            for (int k = 0; k < count_; ++k)
                if (!busy_[k].exchange(true, std::memory_order_acquire)) return k;
    }
    void release(int k) { busy_[k].store(false, std::memory_order_release); }
    Work at(int k) const
    {
        const std::size_t b = static_cast<std::size_t>(first_ + ARRAYS_PER_THREAD * k);
        return {static_cast<fftw_complex*>(blocks_[b]), static_cast<fftw_complex*>(blocks_[b + 1]),
                static_cast<fftw_complex*>(blocks_[b + 2]), static_cast<fftw_complex*>(blocks_[b + 3]),
                static_cast<double*>(blocks_[b + 4])};
    }
    static constexpr int MOST = 64;

private:
    const Blocks& blocks_;
    int first_, count_;
    std::atomic<bool> busy_[MOST];
};

// Sum of the kernel's envelope and of its even part before the mean is
// taken out, in the kernel's column-major order.
struct KernelSums {
    double envelope, even;
};

struct Angle {
    double cosine, sine;
};

Angle angleOf(int k, int N)
{
    const double theta = TRUE_PI * k / N;
    return {std::cos(theta), std::sin(theta)};
}

// The envelope and the phase argument of the carrier at offset (r, c).
inline void filterAt(const ResponseState& s, const Angle& a, double r, double c, double& envelope, double& phase)
{
    const double along = r * a.cosine + c * a.sine;
    const double across = -r * a.sine + c * a.cosine;
    envelope = std::exp(-(along * along / (2 * (s.sigmaAlong * s.sigmaAlong)) +
                          across * across / (2 * (s.sigmaAcross * s.sigmaAcross))));
    phase = 2 * TRUE_PI * across / s.wavelength;
}

KernelSums kernelSums(const ResponseState& s, const Angle& a)
{
    KernelSums sums = {0, 0};
    const int h = s.halfSize;
    for (int c = -h; c <= h; ++c)
        for (int r = -h; r <= h; ++r) {
            double envelope, phase;
            filterAt(s, a, r, c, envelope, phase);
            sums.envelope += envelope;
            sums.even += envelope * std::cos(phase);
        }
    return sums;
}

inline long long wrap(long long v, long long n)
{
    const long long m = v % n;
    return m < 0 ? m + n : m;
}

// Rows r0 .. r0+width-1, columns 0..columns-1, of a complex array held by
// columns (stride ld) into a strip (row b at strip + b*sd), and back. Lanes
// of a strip beyond width are left as they are: their transforms are not
// used.
void toStrip(const fftw_complex* from, long long ld, long long columns, long long r0, int width,
             fftw_complex* strip, long long sd)
{
    for (long long c = 0; c < columns; ++c) {
        const fftw_complex* x = from + c * ld + r0;
        for (int b = 0; b < width; ++b) {
            strip[b * sd + c][0] = x[b][0];
            strip[b * sd + c][1] = x[b][1];
        }
    }
}

void fromStrip(const fftw_complex* strip, long long sd, long long columns, long long r0, int width, fftw_complex* to,
               long long ld)
{
    for (long long c = 0; c < columns; ++c) {
        fftw_complex* y = to + c * ld + r0;
        for (int b = 0; b < width; ++b) std::memcpy(y[b], strip[b * sd + c], sizeof(fftw_complex));
    }
}

// The transform of even + i*odd of orientation k, divided by the size of
// the grid (the inverse transform does not divide), into filter (P x Q).
// The pair is Hermitian (the even part symmetric, the odd part
// antisymmetric about the centre), so its transform is real: only the real
// part is kept.
void filterSpectrum(const ResponseState& s, const Grid& g, const Plans& plans, int k, const Work& w, double* filter)
{
    const Angle a = angleOf(k, s.N);
    const KernelSums sums = kernelSums(s, a);
    const double meanRatio = sums.even / sums.envelope;
    std::fill(&w.grid[0][0], &w.grid[0][0] + 2 * g.gridCount(), 0.0);
    const int h = s.halfSize;
    for (int c = -h; c <= h; ++c)
        for (int r = -h; r <= h; ++r) {
            double envelope, phase;
            filterAt(s, a, r, c, envelope, phase);
            // Offsets beyond the grid fold onto others: the sum is still
            // the circular convolution, and the padding keeps it linear.
            double* at = w.grid[wrap(r, g.P) + g.ld * wrap(c, g.Q)];
            at[0] += envelope * std::cos(phase) - envelope * meanRatio;
            at[1] += envelope * std::sin(phase);
        }
    // Only the kernel's columns hold anything; the others transform to the
    // zeros they are.
    for (long long c = 0; c < g.Q; ++c)
        if (c <= h || c >= g.Q - h) fftw_execute_dft(plans.columnForward, w.grid + c * g.ld, w.grid + c * g.ld);
    const double scale = 1.0 / (static_cast<double>(g.P) * static_cast<double>(g.Q));
    for (long long r0 = 0; r0 < g.P; r0 += STRIP) {
        const int width = static_cast<int>(std::min<long long>(STRIP, g.P - r0));
        toStrip(w.grid, g.ld, g.Q, r0, width, w.strip, g.sd);
        fftw_execute_dft(plans.stripForward, w.strip, w.transformed);
        for (int b = 0; b < width; ++b) {
            double* row = filter + (r0 + b) * g.Q;
            const fftw_complex* lane = w.transformed + b * g.sd;
            for (long long c = 0; c < g.Q; ++c) row[c] = lane[c][0] * scale;
        }
    }
}

// The half spectrum of the image zero-padded to P x Q, into spectrum (by
// rows). Down the image's columns into the thread's grid (by columns,
// stride hld), then along the rows strip by strip into spectrum. Columns
// beyond the image are zeros and are not transformed down; they enter the
// rows as zeros, as do the lanes beyond the last row.
void imageSpectrum(const ResponseState& s, const Grid& g, const Plans& plans, int image, const Work& w,
                   fftw_complex* spectrum)
{
    const double* from = s.images + static_cast<long long>(image) * s.nRows * s.nCols;
    for (long long c = 0; c < s.nCols; ++c) {
        std::copy(from + c * s.nRows, from + (c + 1) * s.nRows, w.real);
        std::fill(w.real + s.nRows, w.real + g.P, 0.0);
        fftw_execute_dft_r2c(plans.columnReal, w.real, w.grid + c * g.hld);
    }
    for (long long r0 = 0; r0 < g.half; r0 += STRIP) {
        const int width = static_cast<int>(std::min<long long>(STRIP, g.half - r0));
        fftw_complex* strip = w.strip;
        toStrip(w.grid, g.hld, s.nCols, r0, width, strip, g.sd);
        for (int b = 0; b < width; ++b) std::fill(&strip[b * g.sd + s.nCols][0], &strip[b * g.sd + g.Q][0], 0.0);
        for (int b = width; b < STRIP; ++b) std::fill(&strip[b * g.sd][0], &strip[b * g.sd + g.Q][0], 0.0);
        fftw_execute_dft(plans.stripForward, strip, spectrum + r0 * g.sd);
    }
}

// Row r of the full spectrum of the image times the (real) filter spectrum
// f, into y. Rows beyond the half spectrum come from its conjugate
// symmetry: the entry at (P - r, Q - c) mod the grid, conjugated. SSE2 (part
// of every x86-64) takes a complex value per operation; the operations are
// the scalar ones, so are their bits.
#if OTK_SSE2_PATHS
inline void productRow(const Grid& g, const fftw_complex* spectrum, const double* f, long long r, fftw_complex* y)
{
    if (r < g.half) {
        const fftw_complex* x = spectrum + r * g.sd;
        for (long long c = 0; c < g.Q; ++c) _mm_storeu_pd(y[c], _mm_mul_pd(_mm_loadu_pd(x[c]), _mm_set1_pd(f[c])));
        return;
    }
    const __m128d conjugate = _mm_set_pd(-0.0, 0.0);
    const fftw_complex* mirror = spectrum + (g.P - r) * g.sd;
    _mm_storeu_pd(y[0], _mm_xor_pd(_mm_mul_pd(_mm_loadu_pd(mirror[0]), _mm_set1_pd(f[0])), conjugate));
    for (long long c = 1; c < g.Q; ++c)
        _mm_storeu_pd(y[c], _mm_xor_pd(_mm_mul_pd(_mm_loadu_pd(mirror[g.Q - c]), _mm_set1_pd(f[c])), conjugate));
}
#else
inline void productRow(const Grid& g, const fftw_complex* spectrum, const double* f, long long r, fftw_complex* y)
{
    const bool inHalf = r < g.half;
    const fftw_complex* x = spectrum + (inHalf ? r : g.P - r) * g.sd;
    for (long long c = 0; c < g.Q; ++c) {
        const fftw_complex& v = x[inHalf || c == 0 ? c : g.Q - c];
        y[c][0] = v[0] * f[c];
        y[c][1] = inHalf ? v[1] * f[c] : -(v[1] * f[c]);
    }
}
#endif

#if OTK_HAS_AVX2_PATHS
// Two complex values per operation where the processor has AVX2: the same
// multiplications, so the same bits.
__attribute__((target("avx2"))) void productRowAvx2(const Grid& g, const fftw_complex* spectrum, const double* f,
                                                     long long r, fftw_complex* y)
{
    long long c = 0;
    if (r < g.half) {
        const fftw_complex* x = spectrum + r * g.sd;
        for (; c + 2 <= g.Q; c += 2) {
            const __m256d w = _mm256_permute4x64_pd(_mm256_castpd128_pd256(_mm_loadu_pd(f + c)), 0x50);
            _mm256_storeu_pd(y[c], _mm256_mul_pd(_mm256_loadu_pd(x[c]), w));
        }
        for (; c < g.Q; ++c) {
            y[c][0] = x[c][0] * f[c];
            y[c][1] = x[c][1] * f[c];
        }
        return;
    }
    const __m256d conjugate = _mm256_set_pd(-0.0, 0.0, -0.0, 0.0);
    const fftw_complex* mirror = spectrum + (g.P - r) * g.sd;
    y[0][0] = mirror[0][0] * f[0];
    y[0][1] = -(mirror[0][1] * f[0]);
    for (c = 1; c + 2 <= g.Q; c += 2) {
        // Entries Q-c and Q-c-1 of the mirrored row, in that order.
        const __m256d v = _mm256_loadu_pd(mirror[g.Q - c - 1]);
        const __m256d w = _mm256_permute4x64_pd(_mm256_castpd128_pd256(_mm_loadu_pd(f + c)), 0x50);
        _mm256_storeu_pd(y[c], _mm256_xor_pd(_mm256_mul_pd(_mm256_permute2f128_pd(v, v, 0x01), w), conjugate));
    }
    for (; c < g.Q; ++c) {
        y[c][0] = mirror[g.Q - c][0] * f[c];
        y[c][1] = -(mirror[g.Q - c][1] * f[c]);
    }
}
#endif

// Rows r0 .. r0+width-1 of the product into the strip.
void productStrip(const Grid& g, const fftw_complex* spectrum, const double* filter, long long r0, int width,
                  bool wide, fftw_complex* strip)
{
    for (int b = 0; b < width; ++b) {
        const long long r = r0 + b;
#if OTK_HAS_AVX2_PATHS
        if (wide) {
            productRowAvx2(g, spectrum, filter + r * g.Q, r, strip + b * g.sd);
            continue;
        }
#else
        (void)wide;
#endif
        productRow(g, spectrum, filter + r * g.Q, r, strip + b * g.sd);
    }
}

// The inverse transform's real part is the even response, its imaginary
// part the odd one. Two at a time with SSE2 (part of every x86-64), as the
// compiler keeps a scalar sqrt for errno's sake: the same correctly rounded
// square roots. The results go straight to memory: a batch's maps are far
// larger than the caches and are not read again in this call.
inline double energyOf(const fftw_complex y)
{
    return std::sqrt(y[0] * y[0] + y[1] * y[1]);
}

// Only the 64-byte lines a column holds whole are streamed (wholeLinesOf):
// the column's first and last lines, shared with the columns beside it, are
// stored as usual. Each column streamed part of a shared line, which then
// went to memory as a partial write, once for each part: maps of 15, 17, 31
// and 33 rows cost 1.6 to 1.9 times those of 16 and 32 per pixel, which
// share no lines.

void energyColumn(const fftw_complex* y, long long n, double* o)
{
    long long r = 0;
#if OTK_SSE2_PATHS
    const WholeLines lines = wholeLinesOf(o, n);
    for (; r < lines.head; ++r) o[r] = energyOf(y[r]);
    for (; r < lines.end; r += 2) {
        const __m128d a = _mm_loadu_pd(y[r]);
        const __m128d b = _mm_loadu_pd(y[r + 1]);
        const __m128d re = _mm_unpacklo_pd(a, b);
        const __m128d im = _mm_unpackhi_pd(a, b);
        _mm_stream_pd(o + r, _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(re, re), _mm_mul_pd(im, im))));
    }
#endif
    for (; r < n; ++r) o[r] = energyOf(y[r]);
}

#if OTK_HAS_AVX2_PATHS
// The same square roots four lanes at a time, where the processor has
// AVX2: the same operations on the same operands, so the same bits (no
// fused multiply-adds are formed from separate intrinsics).
__attribute__((target("avx2"))) void energyColumnAvx2(const fftw_complex* y, long long n, double* o)
{
    long long r = 0;
    const WholeLines lines = wholeLinesOf(o, n);
    for (; r < lines.head; ++r) o[r] = energyOf(y[r]);
    for (; r < lines.end; r += 4) {
        const __m256d a = _mm256_loadu_pd(y[r]);      // re0 im0 re1 im1
        const __m256d b = _mm256_loadu_pd(y[r + 2]);  // re2 im2 re3 im3
        const __m256d lo = _mm256_permute2f128_pd(a, b, 0x20);  // re0 im0 re2 im2
        const __m256d hi = _mm256_permute2f128_pd(a, b, 0x31);  // re1 im1 re3 im3
        const __m256d re = _mm256_unpacklo_pd(lo, hi);  // re0 re1 re2 re3
        const __m256d im = _mm256_unpackhi_pd(lo, hi);
        _mm256_stream_pd(o + r, _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(re, re), _mm256_mul_pd(im, im))));
    }
    for (; r < n; ++r) o[r] = energyOf(y[r]);
}
#endif

// One orientation's responses of one image: along the rows strip by strip
// (the product made on the way in), then down the image's columns, each
// column's square roots taken as it is transformed.
void responseOf(const ResponseState& s, const Grid& g, const Plans& plans, const fftw_complex* spectrum,
                const double* filter, const Work& w, bool wide, double* out)
{
    for (long long r0 = 0; r0 < g.P; r0 += STRIP) {
        const int width = static_cast<int>(std::min<long long>(STRIP, g.P - r0));
        productStrip(g, spectrum, filter, r0, width, wide, w.strip);
        fftw_execute_dft(plans.stripInverse, w.strip, w.transformed);
        fromStrip(w.transformed, g.sd, s.nCols, r0, width, w.grid, g.ld);
    }
    for (long long c = 0; c < s.nCols; ++c) {
        const fftw_complex* y = w.column;
        fftw_execute_dft(plans.columnInverse, w.grid + c * g.ld, w.column);
#if OTK_HAS_AVX2_PATHS
        if (wide) {
            energyColumnAvx2(y, s.nRows, out + c * s.nRows);
            continue;
        }
#else
        (void)wide;
#endif
        energyColumn(y, s.nRows, out + c * s.nRows);
    }
#if OTK_SSE2_PATHS || OTK_HAS_AVX2_PATHS
    // The streamed lines are in memory before the chunk is done.
    _mm_sfence();
#endif
}

struct Call {
    const ResponseState& s;
    Grid g;
    Plans plans;
    WorkArrays* work;
    double* filters;             // N x P*Q
    fftw_complex** spectra;      // IMAGE_GROUP half spectra
    int firstImage, groupImages;  // the group being filtered
    int blocks;                  // orientation blocks per image
    bool wide;                   // the AVX2 paths
};

void filterChunk(void* context, long long k)
{
    Call& call = *static_cast<Call*>(context);
    const int w = call.work->claim();
    filterSpectrum(call.s, call.g, call.plans, static_cast<int>(k), call.work->at(w),
                   call.filters + k * call.g.filterCount());
    call.work->release(w);
}

void forwardChunk(void* context, long long i)
{
    Call& call = *static_cast<Call*>(context);
    const int w = call.work->claim();
    imageSpectrum(call.s, call.g, call.plans, call.firstImage + static_cast<int>(i), call.work->at(w),
                  call.spectra[i]);
    call.work->release(w);
}

// Chunk = one image of the group and one block of orientations.
void responseChunk(void* context, long long chunk)
{
    Call& call = *static_cast<Call*>(context);
    const ResponseState& s = call.s;
    const long long i = chunk / call.blocks;
    const int first = static_cast<int>(chunk % call.blocks) * ORIENTATION_BLOCK;
    const int last = std::min(s.N, first + ORIENTATION_BLOCK);
    const long long image = call.firstImage + i;
    const long long mapSize = static_cast<long long>(s.nRows) * s.nCols;
    const int w = call.work->claim();
    const Work work = call.work->at(w);
    for (int k = first; k < last; ++k)
        responseOf(s, call.g, call.plans, call.spectra[i], call.filters + k * call.g.filterCount(), work, call.wide,
                   s.responses + (k + s.N * image) * mapSize);
    call.work->release(w);
}

int responseThreads(const ResponseState& s, const Grid& g)
{
    const double work = static_cast<double>(s.nImages) * s.N * static_cast<double>(g.P * g.Q);
    return std::min(threadsFor(work, RESPONSE_PER_THREAD), WorkArrays::MOST);
}

// The padded lengths no larger length beats for the cost of a square
// grid's transforms, as the plans above take them (bench/probes/fft_lengths
// with FFTW 3.3.10): padding to the first at or above a size is the
// cheapest choice. The estimated plans of some lengths cost more than twice
// those of a slightly larger one (270 against 280: 2.3 times for a grid),
// so the smallest length with small factors is not the fastest. Beyond
// the table, that smallest length.
constexpr long long FAST_LENGTHS[] = {
    1,    2,    3,    4,    5,    6,    7,    8,    10,   12,   14,   15,   16,   20,   28,   32,
    48,   56,   64,   72,   80,   96,   100,  112,  128,  140,  160,  200,  224,  240,  256,  280,
    320,  400,  448,  512,  560,  640,  686,  768,  800,  1024, 1280, 1440, 1536, 1568, 1600, 1960,
    2048, 2240, 2560, 2800, 3072, 3136, 3200, 3360, 3500, 3584, 3920, 4000, 4032, 4480, 4536};

}  // namespace

long long paddedLength(long long n, int halfSize)
{
    long long m = std::max(1LL, n + halfSize);
    for (long long length : FAST_LENGTHS)
        if (length >= m) return length;
    for (;; ++m) {
        long long rest = m;
        for (long long p : {2, 3, 5, 7})
            while (rest % p == 0) rest /= p;
        if (rest == 1) return m;
    }
}

void requireResponseMemory(const ResponseState& s)
{
    if (s.nImages <= 0 || s.nRows <= 0 || s.nCols <= 0) return;
    const Grid g = gridFor(s);
    // FFTW takes int sizes.
    if (g.P > 2147483647LL || g.Q > 2147483647LL)
        outOfMemoryError("the padded grid %lld x %lld is beyond the sizes FFTW takes", g.P, g.Q);
    // The filters, the arrays of each thread and the spectra of a group.
    const double perThread = 16.0 * static_cast<double>(g.gridCount() + 2 * g.stripCount() + g.columnCount()) +
                             8.0 * static_cast<double>(g.realCount());
    const double bytes = 8.0 * s.N * static_cast<double>(g.filterCount()) + perThread * responseThreads(s, g) +
                         16.0 * std::min(IMAGE_GROUP, s.nImages) * static_cast<double>(g.spectrumCount());
    if (bytes > static_cast<double>(allocationBudget()))
        outOfMemoryError("the transforms of %d orientations on a padded grid of %lld x %lld need %.0f bytes, more "
                         "than one block may take",
                         s.N, g.P, g.Q, bytes);
}

namespace {

std::atomic<bool> wideChosen{processorHasAvx2()};

// The filters' spectra of the last call, kept for the next one with the
// same grid and filters: of a one-image call at 256^2 they were half the
// time. Kept up to FILTER_CACHE_BYTES, and given back when the plug-in is
// unloaded. Only the calling thread finds or replaces them (calls of one
// plug-in do not overlap), and they count only once a call has made every
// one; the same spectra are made the same way every time, so a call that
// finds them gives the bits of one that makes them.
constexpr std::size_t FILTER_CACHE_BYTES = std::size_t(64) << 20;

struct FilterKey {
    long long P, Q;
    int N, halfSize;
    double wavelength, sigmaAlong, sigmaAcross;
    bool operator==(const FilterKey& o) const
    {
        return P == o.P && Q == o.Q && N == o.N && halfSize == o.halfSize && wavelength == o.wavelength &&
               sigmaAlong == o.sigmaAlong && sigmaAcross == o.sigmaAcross;
    }
};

class FilterCache {
public:
    FilterCache() = default;
    FilterCache(const FilterCache&) = delete;
    FilterCache& operator=(const FilterCache&) = delete;
    ~FilterCache() { fftw_free(spectra_); }
    double* find(const FilterKey& key) const { return whole_ && key == key_ ? spectra_ : nullptr; }
    // An array for the spectra of key, the kept ones given back first;
    // nullptr where they are not to be kept or the system refused.
    double* replace(const FilterKey& key, std::size_t bytes)
    {
        fftw_free(spectra_);
        spectra_ = nullptr;
        whole_ = false;
        if (bytes > FILTER_CACHE_BYTES) return nullptr;
        spectra_ = static_cast<double*>(fftw_malloc(bytes));
        if (spectra_ != nullptr) adviseLargePages(spectra_, bytes);
        key_ = key;
        return spectra_;
    }
    void made() { whole_ = spectra_ != nullptr; }

private:
    double* spectra_ = nullptr;
    FilterKey key_ = {};
    bool whole_ = false;
};

FilterCache filterCache;

// False when the blocks or plans could not be had; everything taken is
// released before this returns.
bool computeResponses(const ResponseState& s)
{
    Call call{s, gridFor(s), {}, nullptr, nullptr, nullptr, 0, 0, 0, wideChosen.load()};
    const Grid& g = call.g;
    const int threads = responseThreads(s, g);
    const int group = std::min(IMAGE_GROUP, s.nImages);
    const int firstSpectrum = 1 + ARRAYS_PER_THREAD * threads;
    const std::size_t filterBytes = sizeof(double) * static_cast<std::size_t>(g.filterCount()) * s.N;
    const FilterKey key = {g.P, g.Q, s.N, s.halfSize, s.wavelength, s.sigmaAlong, s.sigmaAcross};
    double* const kept = filterCache.find(key);
    double* const keeping = kept == nullptr ? filterCache.replace(key, filterBytes) : nullptr;
    Blocks blocks(static_cast<std::size_t>(firstSpectrum + group));
    blocks.size(0, kept == nullptr && keeping == nullptr ? filterBytes : 0);
    sizeThreadArrays(blocks, g, 1, threads);
    for (int i = 0; i < group; ++i) blocks.size(firstSpectrum + i, sizeof(fftw_complex) * g.spectrumCount());
    if (!blocks.take()) return false;
    fftw_complex* spectra[IMAGE_GROUP] = {};
    for (int i = 0; i < group; ++i) spectra[i] = static_cast<fftw_complex*>(blocks[firstSpectrum + i]);
    WorkArrays work(blocks, 1, threads);
    // A strip's lanes beyond the last rows are transformed and never used:
    // zeros, rather than whatever the block held.
    for (int t = 0; t < threads; ++t) {
        fftw_complex* strip = work.at(t).strip;
        std::fill(&strip[0][0], &strip[0][0] + 2 * g.stripCount(), 0.0);
    }
    makePlans(g, work.at(0), call.plans);
    if (!call.plans.made()) return false;
    call.work = &work;
    call.filters = kept != nullptr ? kept : keeping != nullptr ? keeping : static_cast<double*>(blocks[0]);
    call.spectra = spectra;
    call.blocks = (s.N + ORIENTATION_BLOCK - 1) / ORIENTATION_BLOCK;

    // A pass that did not run all its chunks ends the call: what follows
    // would read what it left unwritten. Spectra a stopped call left half
    // made are not kept.
    if (kept == nullptr) {
        if (!runChunks(s.N, threads, filterChunk, &call)) return true;
        if (keeping != nullptr && !chunksStopped()) filterCache.made();
    }
    for (int first = 0; first < s.nImages; first += group) {
        call.firstImage = first;
        call.groupImages = std::min(group, s.nImages - first);
        if (!runChunks(call.groupImages, threads, forwardChunk, &call) ||
            !runChunks(static_cast<long long>(call.groupImages) * call.blocks, threads, responseChunk, &call))
            break;
    }
    return true;
}

bool transformsOnly(const ResponseState& s)
{
    const Grid g = gridFor(s);
    Blocks blocks(1 + ARRAYS_PER_THREAD);
    Plans plans;
    blocks.size(0, sizeof(fftw_complex) * g.spectrumCount());
    sizeThreadArrays(blocks, g, 1, 1);
    if (!blocks.take()) return false;
    fftw_complex* spectrum = static_cast<fftw_complex*>(blocks[0]);
    WorkArrays work(blocks, 1, 1);
    const Work w = work.at(0);
    makePlans(g, w, plans);
    if (!plans.made()) return false;
    // The copies, the padding, the products and the square roots are left
    // out: only what FFTW does, on arrays filled once.
    std::fill(&w.grid[0][0], &w.grid[0][0] + 2 * g.gridCount(), 0.0);
    std::fill(&w.strip[0][0], &w.strip[0][0] + 2 * g.stripCount(), 0.0);
    std::fill(&spectrum[0][0], &spectrum[0][0] + 2 * g.spectrumCount(), 0.0);
    std::fill(w.real, w.real + g.realCount(), 0.0);
    for (int i = 0; i < s.nImages; ++i) {
        for (long long c = 0; c < s.nCols; ++c) fftw_execute_dft_r2c(plans.columnReal, w.real, w.grid + c * g.hld);
        for (long long r0 = 0; r0 < g.half; r0 += STRIP)
            fftw_execute_dft(plans.stripForward, w.strip, spectrum + r0 * g.sd);
        for (int k = 0; k < s.N; ++k) {
            for (long long r0 = 0; r0 < g.P; r0 += STRIP) fftw_execute_dft(plans.stripInverse, w.strip, w.transformed);
            for (long long c = 0; c < s.nCols; ++c) fftw_execute_dft(plans.columnInverse, w.grid + c * g.ld, w.column);
        }
    }
    return true;
}

}  // namespace

void orientedResponses(const ResponseState& s)
{
    if (s.nImages <= 0 || s.nRows <= 0 || s.nCols <= 0 || s.N <= 0) return;
    if (!computeResponses(s))
        outOfMemoryError("the transforms of %d orientations on a padded grid of %lld x %lld could not be set up", s.N,
                         paddedLength(s.nRows, s.halfSize), paddedLength(s.nCols, s.halfSize));
}

bool useWideResponses(bool wide)
{
    wideChosen.store(wide && processorHasAvx2());
    return wideChosen.load();
}

void responseTransformsOnly(const ResponseState& s)
{
    if (s.nImages <= 0 || s.nRows <= 0 || s.nCols <= 0 || s.N <= 0) return;
    if (!transformsOnly(s)) outOfMemoryError("the transforms could not be set up");
}
