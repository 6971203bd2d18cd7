#include "responses.h"

#include <dlfcn.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#define OTK_SSE2_ENERGY 1
#else
#define OTK_SSE2_ENERGY 0
#endif
#include "cpu.h"
#if OTK_HAS_AVX2_PATHS
#include <immintrin.h>
#endif

#include "alloc.h"
#include "fft.h"
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

// The padded grid in FFTW's row-major terms: a column-major nRows x nCols
// map is a row-major nCols x nRows array, so the contiguous dimension is
// the rows, padded to P, and the other the columns, padded to Q.
struct Grid {
    long long P, Q;
    long long half;  // P/2 + 1: the rows of a real transform's half spectrum
    long long complexCount() const { return P * Q; }
    long long spectrumCount() const { return half * Q; }
};

Grid gridFor(const ResponseState& s)
{
    Grid g;
    g.P = paddedLength(s.nRows, s.halfSize);
    g.Q = paddedLength(s.nCols, s.halfSize);
    g.half = g.P / 2 + 1;
    return g;
}

// Plans are made on the calling thread (the planner is not thread-safe) and
// run on any thread with arrays of the same alignment as those they were
// made with: all arrays FFTW sees come from fftw_malloc.
struct Plans {
    fftw_plan forwardImage = nullptr;   // r2c, a padded image to its half spectrum
    fftw_plan forwardFilter = nullptr;  // c2c forward, in place
    fftw_plan inverse = nullptr;        // c2c backward, in place
    bool made() const { return forwardImage != nullptr && forwardFilter != nullptr && inverse != nullptr; }
    ~Plans()
    {
        if (forwardImage != nullptr) fftw_destroy_plan(forwardImage);
        if (forwardFilter != nullptr) fftw_destroy_plan(forwardFilter);
        if (inverse != nullptr) fftw_destroy_plan(inverse);
    }
};

void makePlans(const Grid& g, fftw_complex* work, fftw_complex* spectrum, Plans& plans)
{
    const PlannerIsolation isolated;
    const int n0 = static_cast<int>(g.Q), n1 = static_cast<int>(g.P);
    plans.forwardImage = fftw_plan_dft_r2c_2d(n0, n1, reinterpret_cast<double*>(work), spectrum, FFTW_ESTIMATE);
    plans.forwardFilter = fftw_plan_dft_2d(n0, n1, work, work, FFTW_FORWARD, FFTW_ESTIMATE);
    plans.inverse = fftw_plan_dft_2d(n0, n1, work, work, FFTW_BACKWARD, FFTW_ESTIMATE);
}

// The arrays of a call, carved from one block of fftw_malloc released when
// the call ends. Every array starts at a multiple of 64 bytes from a
// 64-byte boundary, so all have the alignment the plans were made with,
// whatever SIMD width FFTW uses. Where the system offers huge pages for
// blocks that ask for them (Linux's transparent huge pages), the block
// asks: a call's arrays are tens of megabytes written once, and on a
// virtual machine faulting them in 4 kB pages cost more than their
// transforms.
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
        askHugePages(base_, offsets_[n_]);
        return true;
    }
    void* operator[](std::size_t k) const { return base_ + offsets_[k]; }

private:
    static constexpr std::size_t ALIGN = 64;
    static void askHugePages(char* p, std::size_t bytes)
    {
#if defined(MADV_HUGEPAGE)
        constexpr std::uintptr_t HUGE = std::uintptr_t(1) << 21;
        const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(p) + HUGE - 1) / HUGE * HUGE;
        const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + bytes) / HUGE * HUGE;
        if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
        (void)p;
        (void)bytes;
#endif
    }
    std::size_t n_;
    std::size_t* offsets_;
    void* block_ = nullptr;
    char* base_ = nullptr;
};

// One work array per thread, each taken by one chunk at a time: at most as
// many chunks run at once as there are threads, so a free one is always
// found.
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
    fftw_complex* at(int k) const { return static_cast<fftw_complex*>(blocks_[first_ + k]); }
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

// The transform of even + i*odd of orientation k, divided by the size of
// the grid (the inverse transform does not divide), into filter. The pair
// is Hermitian (the even part symmetric, the odd part antisymmetric about
// the centre), so its transform is real: only the real part is kept.
void filterSpectrum(const ResponseState& s, const Grid& g, const Plans& plans, int k, fftw_complex* work,
                    double* filter)
{
    const Angle a = angleOf(k, s.N);
    const KernelSums sums = kernelSums(s, a);
    const double meanRatio = sums.even / sums.envelope;
    std::fill(&work[0][0], &work[0][0] + 2 * g.complexCount(), 0.0);
    const int h = s.halfSize;
    for (int c = -h; c <= h; ++c)
        for (int r = -h; r <= h; ++r) {
            double envelope, phase;
            filterAt(s, a, r, c, envelope, phase);
            // Offsets beyond the grid fold onto others: the sum is still
            // the circular convolution, and the padding keeps it linear.
            double* at = work[wrap(r, g.P) + g.P * wrap(c, g.Q)];
            at[0] += envelope * std::cos(phase) - envelope * meanRatio;
            at[1] += envelope * std::sin(phase);
        }
    fftw_execute_dft(plans.forwardFilter, work, work);
    const double scale = 1.0 / (static_cast<double>(g.P) * static_cast<double>(g.Q));
    const long long n = g.complexCount();
    for (long long j = 0; j < n; ++j) filter[j] = work[j][0] * scale;
}

// The image zero-padded into work (as P x Q reals), then its half spectrum.
void imageSpectrum(const ResponseState& s, const Grid& g, const Plans& plans, int image, fftw_complex* work,
                   fftw_complex* spectrum)
{
    double* padded = reinterpret_cast<double*>(work);
    const double* from = s.images + static_cast<long long>(image) * s.nRows * s.nCols;
    for (long long c = 0; c < g.Q; ++c) {
        double* column = padded + c * g.P;
        long long r = 0;
        if (c < s.nCols)
            for (; r < s.nRows; ++r) column[r] = from[r + s.nRows * c];
        for (; r < g.P; ++r) column[r] = 0;
    }
    fftw_execute_dft_r2c(plans.forwardImage, padded, spectrum);
}

// The full spectrum of the image times the (real) filter spectrum. Rows
// beyond the half spectrum come from its conjugate symmetry: the entry at
// (P - r, Q - c) mod the grid, conjugated.
void filterProduct(const Grid& g, const fftw_complex* spectrum, const double* filter, fftw_complex* work)
{
    for (long long c = 0; c < g.Q; ++c) {
        const fftw_complex* x = spectrum + c * g.half;
        const fftw_complex* mirror = spectrum + ((g.Q - c) % g.Q) * g.half;
        const double* f = filter + c * g.P;
        fftw_complex* y = work + c * g.P;
        for (long long r = 0; r < g.half; ++r) {
            y[r][0] = x[r][0] * f[r];
            y[r][1] = x[r][1] * f[r];
        }
        for (long long r = g.half; r < g.P; ++r) {
            y[r][0] = mirror[g.P - r][0] * f[r];
            y[r][1] = -(mirror[g.P - r][1] * f[r]);
        }
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

void energy(const ResponseState& s, const Grid& g, const fftw_complex* work, double* out)
{
    for (long long c = 0; c < s.nCols; ++c) {
        const fftw_complex* y = work + c * g.P;
        double* o = out + c * s.nRows;
        long long r = 0;
#if OTK_SSE2_ENERGY
        if (reinterpret_cast<std::uintptr_t>(o) % 16 != 0 && s.nRows > 0) {
            o[0] = energyOf(y[0]);
            r = 1;
        }
        for (; r + 2 <= s.nRows; r += 2) {
            const __m128d a = _mm_loadu_pd(y[r]);
            const __m128d b = _mm_loadu_pd(y[r + 1]);
            const __m128d re = _mm_unpacklo_pd(a, b);
            const __m128d im = _mm_unpackhi_pd(a, b);
            _mm_stream_pd(o + r, _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(re, re), _mm_mul_pd(im, im))));
        }
#endif
        for (; r < s.nRows; ++r) o[r] = energyOf(y[r]);
    }
#if OTK_SSE2_ENERGY
    // The streamed lines are in memory before the chunk is done.
    _mm_sfence();
#endif
}

#if OTK_HAS_AVX2_PATHS
// The same products and square roots four lanes at a time, where the
// processor has AVX2: the same operations on the same operands, so the
// same bits (no fused multiply-adds are formed from separate intrinsics).
__attribute__((target("avx2"))) void filterProductAvx2(const Grid& g, const fftw_complex* spectrum,
                                                        const double* filter, fftw_complex* work)
{
    const __m256d conjugate = _mm256_set_pd(-0.0, 0.0, -0.0, 0.0);
    for (long long c = 0; c < g.Q; ++c) {
        const fftw_complex* x = spectrum + c * g.half;
        const fftw_complex* mirror = spectrum + ((g.Q - c) % g.Q) * g.half;
        const double* f = filter + c * g.P;
        fftw_complex* y = work + c * g.P;
        long long r = 0;
        for (; r + 2 <= g.half; r += 2) {
            const __m256d v = _mm256_loadu_pd(x[r]);
            const __m256d w = _mm256_permute4x64_pd(_mm256_castpd128_pd256(_mm_loadu_pd(f + r)), 0x50);
            _mm256_storeu_pd(y[r], _mm256_mul_pd(v, w));
        }
        for (; r < g.half; ++r) {
            y[r][0] = x[r][0] * f[r];
            y[r][1] = x[r][1] * f[r];
        }
        for (; r + 2 <= g.P; r += 2) {
            // Entries P-r and P-r-1 of the mirrored column, in that order.
            const __m256d v = _mm256_permute2f128_pd(_mm256_loadu_pd(mirror[g.P - r - 1]),
                                                     _mm256_loadu_pd(mirror[g.P - r - 1]), 0x01);
            const __m256d w = _mm256_permute4x64_pd(_mm256_castpd128_pd256(_mm_loadu_pd(f + r)), 0x50);
            _mm256_storeu_pd(y[r], _mm256_xor_pd(_mm256_mul_pd(v, w), conjugate));
        }
        for (; r < g.P; ++r) {
            y[r][0] = mirror[g.P - r][0] * f[r];
            y[r][1] = -(mirror[g.P - r][1] * f[r]);
        }
    }
}

__attribute__((target("avx2"))) void energyAvx2(const ResponseState& s, const Grid& g, const fftw_complex* work,
                                                double* out)
{
    for (long long c = 0; c < s.nCols; ++c) {
        const fftw_complex* y = work + c * g.P;
        double* o = out + c * s.nRows;
        long long r = 0;
        for (; r < s.nRows && reinterpret_cast<std::uintptr_t>(o + r) % 32 != 0; ++r) o[r] = energyOf(y[r]);
        for (; r + 4 <= s.nRows; r += 4) {
            const __m256d a = _mm256_loadu_pd(y[r]);      // re0 im0 re1 im1
            const __m256d b = _mm256_loadu_pd(y[r + 2]);  // re2 im2 re3 im3
            const __m256d lo = _mm256_permute2f128_pd(a, b, 0x20);  // re0 im0 re2 im2
            const __m256d hi = _mm256_permute2f128_pd(a, b, 0x31);  // re1 im1 re3 im3
            const __m256d re = _mm256_unpacklo_pd(lo, hi);  // re0 re1 re2 re3
            const __m256d im = _mm256_unpackhi_pd(lo, hi);
            _mm256_stream_pd(o + r, _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(re, re), _mm256_mul_pd(im, im))));
        }
        for (; r < s.nRows; ++r) o[r] = energyOf(y[r]);
    }
    _mm_sfence();
}
#endif

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
                   call.filters + k * call.g.complexCount());
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
    fftw_complex* work = call.work->at(w);
    for (int k = first; k < last; ++k) {
        const double* filter = call.filters + k * call.g.complexCount();
        double* out = s.responses + (k + s.N * image) * mapSize;
#if OTK_HAS_AVX2_PATHS
        if (call.wide) {
            filterProductAvx2(call.g, call.spectra[i], filter, work);
            fftw_execute_dft(call.plans.inverse, work, work);
            energyAvx2(s, call.g, work, out);
            continue;
        }
#endif
        filterProduct(call.g, call.spectra[i], filter, work);
        fftw_execute_dft(call.plans.inverse, work, work);
        energy(s, call.g, work, out);
    }
    call.work->release(w);
}

int responseThreads(const ResponseState& s, const Grid& g)
{
    const double work = static_cast<double>(s.nImages) * s.N * static_cast<double>(g.complexCount());
    return std::min(threadsFor(work, RESPONSE_PER_THREAD), WorkArrays::MOST);
}

}  // namespace

long long paddedLength(long long n, int halfSize)
{
    long long m = std::max(1LL, n + halfSize);
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
    // The filters, a work array per thread and the spectra of a group.
    const double complexes = static_cast<double>(g.complexCount());
    const double bytes = complexes * (8.0 * s.N + 16.0 * responseThreads(s, g)) +
                         16.0 * std::min(IMAGE_GROUP, s.nImages) * static_cast<double>(g.spectrumCount());
    if (bytes > static_cast<double>(allocationBudget()))
        outOfMemoryError("the transforms of %d orientations on a padded grid of %lld x %lld need %.0f bytes, more "
                         "than one block may take",
                         s.N, g.P, g.Q, bytes);
}

namespace {

std::atomic<bool> wideChosen{processorHasAvx2()};

// False when the blocks or plans could not be had; everything taken is
// released before this returns.
bool computeResponses(const ResponseState& s)
{
    Call call{s, gridFor(s), {}, nullptr, nullptr, nullptr, 0, 0, 0, wideChosen.load()};
    const Grid& g = call.g;
    const int threads = responseThreads(s, g);
    const int group = std::min(IMAGE_GROUP, s.nImages);
    // Blocks: the filters, then a work array per thread, then the spectra.
    Blocks blocks(1 + threads + group);
    blocks.size(0, sizeof(double) * g.complexCount() * s.N);
    for (int t = 0; t < threads; ++t) blocks.size(1 + t, sizeof(fftw_complex) * g.complexCount());
    for (int i = 0; i < group; ++i) blocks.size(1 + threads + i, sizeof(fftw_complex) * g.spectrumCount());
    if (!blocks.take()) return false;
    fftw_complex* spectra[IMAGE_GROUP] = {};
    for (int i = 0; i < group; ++i) spectra[i] = static_cast<fftw_complex*>(blocks[1 + threads + i]);
    makePlans(g, static_cast<fftw_complex*>(blocks[1]), spectra[0], call.plans);
    if (!call.plans.made()) return false;
    WorkArrays work(blocks, 1, threads);
    call.work = &work;
    call.filters = static_cast<double*>(blocks[0]);
    call.spectra = spectra;
    call.blocks = (s.N + ORIENTATION_BLOCK - 1) / ORIENTATION_BLOCK;

    // A pass that did not run all its chunks ends the call: what follows
    // would read what it left unwritten.
    if (!runChunks(s.N, threads, filterChunk, &call)) return true;
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
    Blocks blocks(3);
    Plans plans;
    blocks.size(0, sizeof(fftw_complex) * g.complexCount());
    blocks.size(1, sizeof(fftw_complex) * g.complexCount());
    blocks.size(2, sizeof(fftw_complex) * g.spectrumCount());
    if (!blocks.take()) return false;
    fftw_complex* padded = static_cast<fftw_complex*>(blocks[0]);
    fftw_complex* work = static_cast<fftw_complex*>(blocks[1]);
    fftw_complex* spectrum = static_cast<fftw_complex*>(blocks[2]);
    makePlans(g, padded, spectrum, plans);
    if (!plans.made()) return false;
    // The padding and the products are left out: only what FFTW does, on
    // an image and a work array filled once.
    imageSpectrum(s, g, plans, 0, padded, spectrum);
    std::fill(&work[0][0], &work[0][0] + 2 * g.complexCount(), 0.0);
    for (int i = 0; i < s.nImages; ++i) {
        fftw_execute_dft_r2c(plans.forwardImage, reinterpret_cast<double*>(padded), spectrum);
        for (int k = 0; k < s.N; ++k) fftw_execute_dft(plans.inverse, work, work);
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
