// Porrith through its gateway at 1 thread and at all threads, against a
// plain baseline (the sigmoid pixel-major over every map, then one division,
// floor and addition of 1.0 per region value, pixel-major) and against
// Fenwold's saturation pass on the same maps, on N = 16 grids of 256² and
// 512² maps and a tiny call. Ratios are printed at the end.
#include <cstring>

#include "saturation_bench.h"
#include "sigmoid.h"

using namespace bench;

namespace {

constexpr double LEVEL = 1.0;
constexpr int MARGIN = 2;
constexpr double BIN_WIDTH = 0.05;
constexpr int N_BINS = 20;

void runPorrith(benchmark::State& state)
{
    Grid grid(state);
    useThreads(state.range(CASE_THREADS));
    const standin::Array histogram = standin::zeros(1, N_BINS);
    const std::vector<standin::Array> in = {
        standin::scalar(grid.nImages), standin::scalar(grid.N),   grid.cells,
        standin::scalar(MARGIN),       standin::scalar(grid.side), standin::scalar(grid.side),
        standin::scalar(BIN_WIDTH),    standin::scalar(N_BINS),    histogram,
        standin::scalar(LEVEL)};
    for (auto _ : state) {
        grid.refill(state);
        standin::values(histogram).assign(N_BINS, 0.0);
        standin::call("Porrith", mexFunction, in);
    }
    useThreads(0);
    perElement(state, grid.elements());
}

// Fenwold's whole work on the same maps: the saturation pass of the plug-in.
void runSaturation(benchmark::State& state)
{
    Grid grid(state);
    useThreads(state.range(CASE_THREADS));
    const SaturationMaps m = {grid.nImages, grid.N, grid.table.data(), grid.side, grid.side, LEVEL};
    for (auto _ : state) {
        grid.refill(state);
        standin::releaseAllocations();
        sigmoidSaturate(m);
    }
    useThreads(0);
    standin::releaseAllocations();
    perElement(state, grid.elements());
}

// The plain loops of a call, written out here.
void plainBaseline(benchmark::State& state)
{
    Grid grid(state);
    const int n = grid.side;
    std::vector<double> h(N_BINS);
    for (auto _ : state) {
        grid.refill(state);
        h.assign(N_BINS, 0.0);
        plainSaturation(grid, LEVEL);
        int count = 0;
        for (int r = MARGIN + 1; r < n - MARGIN; ++r)
            for (int c = MARGIN + 1; c < n - MARGIN; ++c) {
                const long long p = r + static_cast<long long>(n) * (c - 1) - 1;
                for (int k = 0; k < grid.N; ++k)
                    for (int l = 0; l < grid.nImages; ++l) {
                        const double f = std::floor(grid.table[l + grid.nImages * k][p] / BIN_WIDTH);
                        const int bin = N_BINS - 1 > f ? (f < 0 ? 0 : static_cast<int>(f)) : N_BINS - 1;
                        h[bin] += 1.0;
                        ++count;
                    }
            }
        for (int b = 0; b < N_BINS; ++b) h[b] = h[b] / (BIN_WIDTH * count);
        benchmark::DoNotOptimize(h.data());
        benchmark::ClobberMemory();
    }
    perElement(state, grid.elements());
}

}  // namespace

BENCHMARK(runPorrith)->Name("Porrith")->Apply(saturationCases);
BENCHMARK(runSaturation)->Name("FenwoldPass")->Apply(saturationCases);
BENCHMARK(plainBaseline)->Name("PlainBaseline")->Apply(serialCases);

int main(int argc, char** argv)
{
    std::vector<RatioReporter::Pair> pairs;
    for (const CaseSize& c : caseSizes()) {
        const std::string one = caseName("Porrith", c, 1), all = caseName("Porrith", c, 0);
        const std::string plain = caseName("PlainBaseline", c, 1);
        pairs.push_back({"Porrith 1 thread / Fenwold 1 thread, " + c.label, one, caseName("FenwoldPass", c, 1)});
        pairs.push_back({"Porrith all threads / Fenwold all threads, " + c.label, all, caseName("FenwoldPass", c, 0)});
        pairs.push_back({"Porrith 1 thread / plain baseline, " + c.label, one, plain});
        pairs.push_back({"Porrith all threads / plain baseline, " + c.label, all, plain});
        pairs.push_back({"Porrith all threads / Porrith 1 thread, " + c.label, all, one});
    }
    return runWithRatios(argc, argv, pairs);
}
