// Question: to which length should a dimension be padded, so that the
// responses' transforms, with the plans they make (FFTW_ESTIMATE, one
// dimension at a time, STRIP rows at once along the rows), cost least?
// Figure: the table FAST_LENGTHS in common/responses.cpp.
//
//   build/bench/fft_lengths [largest]      (default 4200)
//
// For every length L up to the largest whose prime factors are 2, 3, 5 and
// 7, times the two plans a square grid of L x L needs (a strip of 8 rows
// along the rows, one column down the columns, each from one array to
// another, as the responses make them) and prints L, the cost of an L x L
// inverse transform in microseconds, and that cost per point. Then the
// lengths no larger length beats: padding to the first of them at or
// above a size is the cheapest choice for a square grid. Estimated plans
// depend on the length alone, so the choice holds on any machine with the
// same FFTW; how much each wins is this machine's.
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int STRIP = 8;

bool smooth(long long m)
{
    for (long long p : {2, 3, 5, 7})
        while (m % p == 0) m /= p;
    return m == 1;
}

long long strideFor(long long n)
{
    long long ld = (n + 3) / 4 * 4;
    if (ld % 128 == 0) ld += 4;
    return ld;
}

template <class F>
double fastestMicroseconds(F run, int reps)
{
    double best = 1e30;
    for (int r = 0; r < 5; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < reps; ++i) run();
        const double t = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, t / reps);
    }
    return best;
}

// Microseconds of an L x L inverse transform as the responses take it.
double gridCost(int L)
{
    const int sd = static_cast<int>(strideFor(L));
    fftw_complex* strip = fftw_alloc_complex(static_cast<std::size_t>(STRIP) * sd);
    fftw_complex* out = fftw_alloc_complex(static_cast<std::size_t>(STRIP) * sd);
    fftw_complex* column = fftw_alloc_complex(static_cast<std::size_t>(L));
    fftw_complex* columnOut = fftw_alloc_complex(static_cast<std::size_t>(L));
    fftw_plan along = fftw_plan_many_dft(1, &L, STRIP, strip, nullptr, 1, sd, out, nullptr, 1, sd, FFTW_BACKWARD,
                                         FFTW_ESTIMATE);
    fftw_plan down = fftw_plan_dft_1d(L, column, columnOut, FFTW_BACKWARD, FFTW_ESTIMATE);
    for (int k = 0; k < STRIP * sd; ++k) strip[k][0] = strip[k][1] = (k % 7) * 0.25;
    for (int k = 0; k < L; ++k) column[k][0] = column[k][1] = (k % 5) * 0.5;
    const int reps = std::max(1, 200000 / L);
    const double a = fastestMicroseconds([&] { fftw_execute(along); }, reps);
    const double d = fastestMicroseconds([&] { fftw_execute(down); }, reps);
    fftw_destroy_plan(along);
    fftw_destroy_plan(down);
    fftw_free(strip);
    fftw_free(out);
    fftw_free(column);
    fftw_free(columnOut);
    return static_cast<double>(L) * (a / STRIP + d);
}

}  // namespace

int main(int argc, char** argv)
{
    const int largest = argc > 1 ? std::atoi(argv[1]) : 4200;
    std::vector<int> lengths;
    std::vector<double> costs;
    for (int L = 1; L <= largest; ++L) {
        if (!smooth(L)) continue;
        lengths.push_back(L);
        costs.push_back(gridCost(L));
        std::printf("%5d %12.1f us %8.2f ns per point\n", L, costs.back(), 1e3 * costs.back() / (double(L) * L));
    }
    // From the largest down: a length stays if it is cheaper than every
    // larger one.
    std::vector<int> kept;
    double cheapest = 1e300;
    for (std::size_t k = lengths.size(); k-- > 0;)
        if (costs[k] < cheapest) {
            cheapest = costs[k];
            kept.push_back(lengths[k]);
        }
    std::reverse(kept.begin(), kept.end());
    std::printf("lengths no larger length beats (%zu):\n", kept.size());
    for (std::size_t k = 0; k < kept.size(); ++k) std::printf("%d,%s", kept[k], (k + 1) % 16 == 0 ? "\n" : " ");
    std::printf("\n");
}
