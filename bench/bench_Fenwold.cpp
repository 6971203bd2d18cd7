// The sigmoid pass in storage order (what Fenwold and Porrith run) against
// the pixel-major order as the baseline, on the same grids in the same run.
// Run with --benchmark_enable_random_interleaving=true and repetitions on a
// shared machine, and compare medians.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "sigmoid.h"

namespace {

// nImages x N maps of side x side, refilled with the same values before
// every pass so both orders see the same data.
struct BenchGrid {
    std::vector<double> original;
    std::vector<std::vector<double>> maps;
    std::vector<double*> table;
    SaturationMaps m{};

    BenchGrid(int nImages, int N, int side)
    {
        std::mt19937 gen(3);
        std::uniform_real_distribution<double> dist(-3.0, 3.0);
        original.resize(static_cast<std::size_t>(side) * side);
        for (double& v : original) v = dist(gen);
        maps.assign(static_cast<std::size_t>(nImages) * N, original);
        for (auto& map : maps) table.push_back(map.data());
        m = {nImages, N, table.data(), side, side, 1.7};
    }
    void refill()
    {
        for (auto& map : maps) map = original;
    }
};

template <void (*Pass)(const SaturationMaps&)>
void saturateGrid(benchmark::State& state)
{
    BenchGrid grid(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                   static_cast<int>(state.range(2)));
    for (auto _ : state) {
        state.PauseTiming();
        grid.refill();
        state.ResumeTiming();
        Pass(grid.m);
        benchmark::DoNotOptimize(grid.maps[0][0]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1) * state.range(2) *
                            state.range(2));
}

// nImages, N, map side.
void gridSizes(benchmark::internal::Benchmark* b)
{
    b->Args({4, 8, 256})->Args({4, 8, 128})->Args({1, 8, 64})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_TEMPLATE(saturateGrid, sigmoidSaturatePixelMajor)->Apply(gridSizes)->Name("PixelMajor");
BENCHMARK_TEMPLATE(saturateGrid, sigmoidSaturate)->Apply(gridSizes)->Name("StorageOrder");
