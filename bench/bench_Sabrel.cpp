// Sabrel through its gateway against the plain loop (one geometricTransform
// per result element) as the baseline, on the same maps in the same run.
#include <benchmark/benchmark.h>

#include <vector>

#include "warp_call.h"

namespace {

// n maps of side x side, N = 16; with shared set every map has the same
// transform, otherwise each map its own.
WarpCall rotation(int n, int side, bool shared)
{
    WarpCall c;
    c.n = n;
    c.N = 16;
    c.sx = c.sy = side;
    c.allocate();
    for (int i = 0; i < n; ++i) {
        c.deltaX[i] = shared ? 2 : i % 5 - 2;
        c.deltaY[i] = shared ? -1 : i % 3 - 1;
        c.deltaOri[i] = shared ? 5 : i;
    }
    return c;
}

std::vector<double*> pointers(const standin::Array& grid, int count)
{
    std::vector<double*> table;
    for (int k = 0; k < count; ++k) table.push_back(standin::values(standin::cellContent(grid, k)).data());
    return table;
}

WarpCall fromArgs(const benchmark::State& state)
{
    return rotation(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), state.range(2) != 0);
}

void elements(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1) * state.range(1));
}

void PlainLoop(benchmark::State& state)
{
    const WarpCall c = fromArgs(state);
    const std::vector<double*> sI = pointers(c.sources, c.n), rI = pointers(c.results, c.n);
    for (auto _ : state) {
        plainRotateMap(c.n, c.N, sI, rI, c.sx, c.sy, c.deltaX.data(), c.deltaY.data(), c.deltaOri.data());
        benchmark::ClobberMemory();
    }
    elements(state);
}

void Gateway(benchmark::State& state)
{
    const WarpCall c = fromArgs(state);
    const std::vector<standin::Array> in = c.inputs();
    for (auto _ : state) {
        standin::call("Sabrel", mexFunction, in);
        benchmark::ClobberMemory();
    }
    elements(state);
}

// The same cell array as sources and results: every source is copied first.
void GatewayInPlace(benchmark::State& state)
{
    const WarpCall c = fromArgs(state);
    std::vector<standin::Array> in = c.inputs();
    in[3] = in[2];
    for (auto _ : state) {
        standin::call("Sabrel", mexFunction, in);
        benchmark::ClobberMemory();
    }
    elements(state);
}

// {maps, side, one transform shared by all maps}
void cases(benchmark::internal::Benchmark* b)
{
    b->Args({16, 128, 1})->Args({16, 128, 0})->Args({1, 512, 0})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(PlainLoop)->Apply(cases);
BENCHMARK(Gateway)->Apply(cases);
BENCHMARK(GatewayInPlace)->Apply(cases);
