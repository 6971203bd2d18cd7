// The oriented responses through FFTW against the direct sums written out
// here, and their bits under threads, batch splits and a planner that holds
// wisdom of its own.
#include <gtest/gtest.h>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "responses.h"
#include "standin.h"
#include "threads.h"

namespace {

struct Filters {
    double wavelength, sigmaAlong, sigmaAcross;
    int halfSize;
};

// The definition: for each orientation the two kernels, then the central
// part of the full 2-D convolution with zeros outside the image.
std::vector<double> directResponses(const std::vector<double>& images, int nImages, int N, int nRows, int nCols,
                                    const Filters& f)
{
    const double pi = std::acos(-1.0);
    const int h = f.halfSize, side = 2 * h + 1;
    std::vector<double> out(static_cast<std::size_t>(nRows) * nCols * N * nImages);
    for (int k = 0; k < N; ++k) {
        const double theta = pi * k / N;
        std::vector<double> even(side * side), odd(side * side), envelope(side * side);
        double sumEven = 0, sumEnvelope = 0;
        for (int c = -h; c <= h; ++c)
            for (int r = -h; r <= h; ++r) {
                const double along = r * std::cos(theta) + c * std::sin(theta);
                const double across = -r * std::sin(theta) + c * std::cos(theta);
                const double e = std::exp(-(along * along / (2 * f.sigmaAlong * f.sigmaAlong) +
                                            across * across / (2 * f.sigmaAcross * f.sigmaAcross)));
                const int at = (r + h) + side * (c + h);
                envelope[at] = e;
                even[at] = e * std::cos(2 * pi * across / f.wavelength);
                odd[at] = e * std::sin(2 * pi * across / f.wavelength);
                sumEven += even[at];
                sumEnvelope += e;
            }
        for (int j = 0; j < side * side; ++j) even[j] -= envelope[j] * (sumEven / sumEnvelope);
        for (int i = 0; i < nImages; ++i) {
            const double* img = images.data() + static_cast<std::size_t>(i) * nRows * nCols;
            double* o = out.data() + (static_cast<std::size_t>(i) * N + k) * nRows * nCols;
            for (int y = 0; y < nCols; ++y)
                for (int x = 0; x < nRows; ++x) {
                    double se = 0, so = 0;
                    for (int c = -h; c <= h; ++c)
                        for (int r = -h; r <= h; ++r) {
                            const int xx = x - r, yy = y - c;
                            if (xx < 0 || xx >= nRows || yy < 0 || yy >= nCols) continue;
                            const double v = img[xx + nRows * yy];
                            se += v * even[(r + h) + side * (c + h)];
                            so += v * odd[(r + h) + side * (c + h)];
                        }
                    o[x + nRows * y] = std::sqrt(se * se + so * so);
                }
        }
    }
    return out;
}

std::vector<double> randomImages(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> value(-1.0, 3.0);
    std::vector<double> v(n);
    for (double& x : v) x = value(gen);
    return v;
}

std::vector<double> fftResponses(const std::vector<double>& images, int nImages, int N, int nRows, int nCols,
                                 const Filters& f)
{
    std::vector<double> out(static_cast<std::size_t>(nRows) * nCols * N * nImages, -1.0);
    ResponseState s;
    s.nImages = nImages;
    s.N = N;
    s.nRows = nRows;
    s.nCols = nCols;
    s.wavelength = f.wavelength;
    s.sigmaAlong = f.sigmaAlong;
    s.sigmaAcross = f.sigmaAcross;
    s.halfSize = f.halfSize;
    s.images = images.data();
    s.responses = out.data();
    orientedResponses(s);
    return out;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The entries of exported wisdom, in order: a planner that forgets and
// takes its wisdom back may list them in another order.
std::vector<std::string> wisdomLines(const char* text)
{
    std::vector<std::string> lines;
    std::string line;
    for (const char* p = text; *p != 0; ++p) {
        if (*p == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += *p;
        }
    }
    lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

struct ThreadSetting {
    explicit ThreadSetting(int n) { setenv(THREADS_VARIABLE, std::to_string(n).c_str(), 1); }
    ~ThreadSetting() { unsetenv(THREADS_VARIABLE); }
};

int stopAfterQuestions = 0;
bool stopAtQuestion()
{
    return --stopAfterQuestions <= 0;
}

class Responses : public ::testing::Test {
protected:
    void TearDown() override { standin::releaseAllocations(); }
};

TEST_F(Responses, PaddedLengthsHaveSmallFactorsOnly)
{
    EXPECT_EQ(paddedLength(256, 7), 280);  // 270's plans cost more than 280's
    EXPECT_EQ(paddedLength(249, 7), 256);
    EXPECT_EQ(paddedLength(0, 0), 1);
    EXPECT_EQ(paddedLength(1, 0), 1);
    EXPECT_EQ(paddedLength(11, 0), 12);
    EXPECT_EQ(paddedLength(40, 7), 48);
    EXPECT_EQ(paddedLength(4530, 7), 4608);  // beyond the measured lengths: the smallest
    // Never below the size, only small factors, and never shorter for a
    // larger size.
    long long previous = 0;
    for (long long n = 1; n <= 5000; ++n) {
        const long long m = paddedLength(n, 0);
        long long rest = m;
        for (long long p : {2, 3, 5, 7})
            while (rest % p == 0) rest /= p;
        ASSERT_TRUE(m >= n && rest == 1 && m >= previous) << n << " padded to " << m;
        previous = m;
    }
}

// Sizes odd and even, smaller than the kernel, a single row, kernels of
// half size 0 (all zero) and larger than the image, more images than a
// group, orientations not a multiple of a block, grids padded to 256 rows
// or columns (whose strides are moved off a multiple of 2 kB), and calls
// one after another that differ in one filter setting alone (the filters'
// spectra of a call are kept for the next one like it).
TEST_F(Responses, EqualTheDirectSums)
{
    struct Case {
        int nImages, N, nRows, nCols;
        Filters f;
    };
    const Case cases[] = {{2, 5, 23, 17, {6, 3, 1.5, 7}},   {1, 1, 1, 1, {6, 3, 1.5, 7}},
                          {3, 3, 1, 19, {6, 3, 1.5, 7}},    {1, 6, 12, 9, {4, 2, 1, 3}},
                          {2, 2, 8, 8, {6, 3, 1.5, 0}},     {1, 4, 6, 5, {10, 6, 3, 12}},
                          {10, 6, 9, 7, {6, 3, 1.5, 4}},    {10, 6, 9, 7, {5, 3, 1.5, 4}},
                          {10, 6, 9, 7, {5, 2, 1.5, 4}},    {10, 6, 9, 7, {5, 2, 1, 4}},
                          {1, 3, 249, 5, {6, 3, 1.5, 7}},
                          {2, 2, 6, 249, {6, 3, 1.5, 7}}};
    unsigned seed = 17;
    for (const Case& t : cases) {
        const std::vector<double> images =
            randomImages(static_cast<std::size_t>(t.nImages) * t.nRows * t.nCols, ++seed);
        const std::vector<double> want = directResponses(images, t.nImages, t.N, t.nRows, t.nCols, t.f);
        const std::vector<double> got = fftResponses(images, t.nImages, t.N, t.nRows, t.nCols, t.f);
        const double largest = std::max(1.0, *std::max_element(want.begin(), want.end()));
        for (std::size_t j = 0; j < want.size(); ++j)
            ASSERT_NEAR(got[j], want[j], 1e-12 * largest)
                << "entry " << j << " of " << t.nRows << "x" << t.nCols << " N=" << t.N << " half "
                << t.f.halfSize << " (seed " << seed << ")";
    }
}

// The same bits on 1 and 2 threads, for a batch taken in two calls, and
// after FFTW has planned the same sizes by measuring (wisdom that would
// change its plans); that wisdom is still there afterwards.
TEST_F(Responses, SameBitsWhateverTheThreadsSplitOrPlannerState)
{
    const int nImages = 11, N = 7, nRows = 30, nCols = 26;
    const Filters f = {6, 3, 1.5, 7};
    const unsigned seed = 29;
    const std::vector<double> images = randomImages(static_cast<std::size_t>(nImages) * nRows * nCols, seed);
    std::vector<double> one, two;
    {
        ThreadSetting t(1);
        one = fftResponses(images, nImages, N, nRows, nCols, f);
    }
    {
        ThreadSetting t(2);
        two = fftResponses(images, nImages, N, nRows, nCols, f);
    }
    EXPECT_TRUE(sameBits(one, two)) << "seed " << seed;

    const std::size_t imageSize = static_cast<std::size_t>(nRows) * nCols;
    const std::vector<double> first(images.begin(), images.begin() + 4 * imageSize);
    const std::vector<double> rest(images.begin() + 4 * imageSize, images.end());
    std::vector<double> split = fftResponses(first, 4, N, nRows, nCols, f);
    const std::vector<double> second = fftResponses(rest, nImages - 4, N, nRows, nCols, f);
    split.insert(split.end(), second.begin(), second.end());
    EXPECT_TRUE(sameBits(one, split)) << "seed " << seed;

    // Wisdom for the very problems the call plans (its columns, its strips
    // of 8 rows of stride Q rounded up to 4, its real columns), measured:
    // taken up, it would change the plans and so the bits.
    const int P = static_cast<int>(paddedLength(nRows, f.halfSize)), Q = static_cast<int>(paddedLength(nCols, f.halfSize));
    const int sd = (Q + 3) / 4 * 4;
    fftw_complex* a = fftw_alloc_complex(static_cast<std::size_t>(8 * sd));
    fftw_complex* b = fftw_alloc_complex(static_cast<std::size_t>(8 * sd));
    double* real = fftw_alloc_real(static_cast<std::size_t>(P));
    fftw_plan measured[] = {
        fftw_plan_many_dft(1, &Q, 8, a, nullptr, 1, sd, b, nullptr, 1, sd, FFTW_BACKWARD, FFTW_PATIENT),
        fftw_plan_many_dft(1, &Q, 8, a, nullptr, 1, sd, b, nullptr, 1, sd, FFTW_FORWARD, FFTW_PATIENT),
        fftw_plan_dft_1d(P, a, b, FFTW_BACKWARD, FFTW_PATIENT), fftw_plan_dft_1d(P, a, a, FFTW_FORWARD, FFTW_PATIENT),
        fftw_plan_dft_r2c_1d(P, real, a, FFTW_PATIENT)};
    char* before = fftw_export_wisdom_to_string();
    const std::vector<double> withWisdom = fftResponses(images, nImages, N, nRows, nCols, f);
    char* after = fftw_export_wisdom_to_string();
    EXPECT_TRUE(sameBits(one, withWisdom)) << "seed " << seed;
    EXPECT_EQ(wisdomLines(before), wisdomLines(after));
    fftw_free(before);
    fftw_free(after);
    for (fftw_plan p : measured) fftw_destroy_plan(p);
    fftw_free(a);
    fftw_free(b);
    fftw_free(real);
    fftw_forget_wisdom();

    // The SSE2 and scalar paths (processors without AVX2) give the bits of
    // the AVX2 ones, on 1 and 2 threads.
    const bool wide = useWideResponses(false);
    std::vector<double> narrow;
    {
        ThreadSetting t(2);
        narrow = fftResponses(images, nImages, N, nRows, nCols, f);
    }
    const std::vector<double> narrowOne = fftResponses(images, nImages, N, nRows, nCols, f);
    useWideResponses(true);
    EXPECT_TRUE(sameBits(one, narrow)) << "AVX2 on this processor: " << wide << ", seed " << seed;
    EXPECT_TRUE(sameBits(one, narrowOne)) << "AVX2 on this processor: " << wide << ", seed " << seed;

    // A call stopped while it made the filters' spectra leaves none for the
    // next call like it to find.
    {
        ThreadSetting t(1);
        fftResponses(images, nImages, N + 1, nRows, nCols, f);  // other spectra kept
        stopAfterQuestions = 3;
        setStopPoll(stopAtQuestion);
        fftResponses(images, nImages, N, nRows, nCols, f);
        EXPECT_TRUE(chunksStopped());
        setStopPoll(nullptr);
    }
    EXPECT_TRUE(sameBits(one, fftResponses(images, nImages, N, nRows, nCols, f))) << "seed " << seed;
}

TEST_F(Responses, EmptyBatchesWriteNothing)
{
    std::vector<double> out(4, -1.0);
    const std::vector<double> images(4, 1.0);
    ResponseState s = {0, 3, 2, 2, 6, 3, 1.5, 7, images.data(), out.data()};
    orientedResponses(s);
    s.nImages = 1;
    s.nRows = 0;
    orientedResponses(s);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](double v) { return v == -1.0; }));
}

}  // namespace
