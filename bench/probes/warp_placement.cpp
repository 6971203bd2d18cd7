// Question: does Mundle's cost per pixel depend on where its source and its
// result lie relative to each other, all else equal?
// Figure: the host-free range behind Mundle's array flags in the sweep
// ("Map sizes" in docs/performance.md).
//
// A Mundle-shaped batch as the sweep makes it (about 16 MB of 16-channel
// maps of side^2, image i turned by 3i steps and shifted by (i mod 5 - 2,
// i mod 3 - 1)), warped on one thread by the kernel (warpAllOn) with the
// source at a page boundary and the result a whole number of pages after
// its end plus each given offset in bytes. Wall time per output pixel, the
// fastest of 10 calls. The host puts the two arrays where its allocator
// does: a 33 MB pair both at the same place in a page, a 16 MB pair
// wherever its heap has room.
//
//   build/bench/warp_placement [side ...]     (target warp_placement; default 256 513)
//   OTK_OFFSETS="0 16 512" build/bench/warp_placement 256
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "warp.h"

namespace {

constexpr int N = 16;
constexpr long long PAGE = 4096;

double nsPerPixel(int side, long long offsetBytes)
{
    const long long plane = static_cast<long long>(side) * side;
    const int images = std::max(1, static_cast<int>(16.0 * (1 << 20) / (8.0 * N * plane) + 0.5));
    const long long count = plane * N * images;
    const long long sourceDoubles = (count * 8 + PAGE - 1) / PAGE * PAGE / 8;
    const long long total = sourceDoubles + offsetBytes / 8 + count;
    double* block = static_cast<double*>(std::aligned_alloc(PAGE, (total * 8 + PAGE - 1) / PAGE * PAGE));
    if (block == nullptr) return -1;
    double* source = block;
    double* result = block + sourceDoubles + offsetBytes / 8;
    for (long long e = 0; e < count; ++e) source[e] = static_cast<double>(e % 977);
    std::fill(result, result + count, 0.0);
    std::vector<double*> sI(static_cast<std::size_t>(N) * images), rI(sI.size());
    for (int i = 0; i < images; ++i)
        for (int k = 0; k < N; ++k) {
            sI[i + images * k] = source + plane * (k + N * static_cast<long long>(i));
            rI[i + images * k] = result + plane * (k + N * static_cast<long long>(i));
        }
    std::vector<WarpParams> params(images);
    std::vector<int> order(images), start(images + 1);
    for (int i = 0; i < images; ++i) {
        params[i] = {i % 5 - 2, i % 3 - 1, (3 * i) % N};
        order[i] = start[i] = i;
    }
    start[images] = images;
    WarpState s{};
    s.n = images;
    s.N = N;
    s.channels = N;
    s.sx = s.sy = side;
    s.count = plane;
    s.sI = sI.data();
    s.rI = rI.data();
    s.params = params.data();
    s.order = order.data();
    s.groupStart = start.data();
    s.groups = images;
    warpAllOn(s, 1);
    double best = 1e30;
    for (int r = 0; r < 10; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        warpAllOn(s, 1);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::free(block);
    return best * 1e9 / static_cast<double>(count);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<int> sides;
    for (int k = 1; k < argc; ++k) sides.push_back(std::atoi(argv[k]));
    if (sides.empty()) sides = {256, 513};
    std::vector<long long> offsets = {0, 16, 512};
    if (const char* given = std::getenv("OTK_OFFSETS")) {
        offsets.clear();
        std::istringstream in(given);
        for (long long o; in >> o;) offsets.push_back(o / 16 * 16);
    }
    std::printf("%6s %12s %12s\n", "side", "offset B", "ns/pixel");
    for (int side : sides)
        for (long long o : offsets) std::printf("%6d %12lld %12.3f\n", side, o, nsPerPixel(side, o));
    return 0;
}
