// Question: how close can any exact saturation come to a bare loop of the
// standard exp, and how close is Fenwold's?
// Figure: Fenwold's floor in docs/performance.md (formula / exp, kernel /
// formula).
//
// What Fenwold's saturation costs against the loops under it, on one
// thread, processor time: a bare loop of the standard exp over the same
// values, the sigmoid's own formula written as a bare loop (exp, a divide
// and three more operations an element), and the kernel's run
// (saturateRun). The bare formula is the floor of any exact saturation:
// what it costs above the bare exp no loop order takes away.
//
//   build/bench/sigmoid_floor            (target sigmoid_floor; seconds)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "sigmoid.h"

namespace {

double processorSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

}  // namespace

int main()
{
    const long long n = 256LL * 256 * 16;  // one image of 256^2 x 16
    // Read at run time, so that the compiler cannot drop the divide and the
    // product by a level of 1 from the bare formula.
    volatile double levelGiven = 1.0;
    const double level = levelGiven;
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> original(static_cast<std::size_t>(n)), v(original.size());
    for (double& x : original) x = 2.5 * unit(gen) * unit(gen);  // as bench_Fenwold's grids
    const char* names[3] = {"bare exp", "bare sigmoid formula", "saturateRun (Fenwold)"};
    std::vector<double> t[3];
    for (int round = 0; round < 15; ++round)
        for (int k = 0; k < 3; ++k) {
            std::copy(original.begin(), original.end(), v.begin());
            const double start = processorSeconds();
            if (k == 0)
                for (long long p = 0; p < n; ++p) v[p] = std::exp(v[p]);
            else if (k == 1)
                for (long long p = 0; p < n; ++p) v[p] = level * (2.0 / (std::exp(-2.0 * v[p] / level) + 1.0) - 1.0);
            else
                saturateRun(v.data(), n, level);
            t[k].push_back(processorSeconds() - start);
        }
    std::printf("ns per element, medians of 15 rounds (processor time), and ratios to the bare exp\n");
    double median[3];
    for (int k = 0; k < 3; ++k) {
        std::sort(t[k].begin(), t[k].end());
        median[k] = 1e9 * t[k][t[k].size() / 2] / static_cast<double>(n);
    }
    for (int k = 0; k < 3; ++k) std::printf("%-24s %7.3f  %5.2f\n", names[k], median[k], median[k] / median[0]);
    std::printf("saturateRun / bare sigmoid formula: %.2f\n", median[2] / median[1]);
    return 0;
}
