// Mundle through its gateway against the plain loop (one geometricTransform
// per result element of every channel) as the baseline, on the same stacks in
// the same run.
#include <benchmark/benchmark.h>

#include <vector>

#include "warp_call.h"

namespace {

// n images of N channels of side x side, each image with its own transform.
WarpCall stacks(const benchmark::State& state)
{
    WarpCall c;
    c.oriented = true;
    c.n = static_cast<int>(state.range(0));
    c.N = static_cast<int>(state.range(1));
    c.sx = c.sy = static_cast<int>(state.range(2));
    c.allocate();
    for (int i = 0; i < c.n; ++i) {
        c.deltaX[i] = i % 5 - 2;
        c.deltaY[i] = i % 3 - 1;
        c.deltaOri[i] = 3 + i;
    }
    return c;
}

std::vector<double*> pointers(const standin::Array& grid, int count)
{
    std::vector<double*> table;
    for (int k = 0; k < count; ++k) table.push_back(standin::values(standin::cellContent(grid, k)).data());
    return table;
}

void elements(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1) * state.range(2) * state.range(2));
}

void PlainLoop(benchmark::State& state)
{
    const WarpCall c = stacks(state);
    const std::vector<double*> sI = pointers(c.sources, c.maps()), rI = pointers(c.results, c.maps());
    for (auto _ : state) {
        plainWarpOrientedMaps(c.n, c.N, sI, rI, c.sx, c.sy, c.deltaX.data(), c.deltaY.data(), c.deltaOri.data());
        benchmark::ClobberMemory();
    }
    elements(state);
}

void Gateway(benchmark::State& state)
{
    const WarpCall c = stacks(state);
    const std::vector<standin::Array> in = c.inputs();
    for (auto _ : state) {
        standin::call("Mundle", mexFunction, in);
        benchmark::ClobberMemory();
    }
    elements(state);
}

// The same cell array as sources and results: every source is copied first.
void GatewayInPlace(benchmark::State& state)
{
    const WarpCall c = stacks(state);
    std::vector<standin::Array> in = c.inputs();
    in[3] = in[2];
    for (auto _ : state) {
        standin::call("Mundle", mexFunction, in);
        benchmark::ClobberMemory();
    }
    elements(state);
}

// {images, N, side}
void cases(benchmark::internal::Benchmark* b)
{
    b->Args({4, 16, 128})->Args({1, 8, 256})->Args({16, 4, 64})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(PlainLoop)->Apply(cases);
BENCHMARK(Gateway)->Apply(cases);
BENCHMARK(GatewayInPlace)->Apply(cases);
