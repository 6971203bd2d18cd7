// What reading the samples of a pooling call costs on this machine, and
// nothing else, for a batch the caches hold (the same 8 images at every
// call) and for one just pushed out of them (a 256 MB write between calls,
// as a batch of 512 images is at every call). Images of 16 maps of 128^2,
// a template of 60 elements at integer positions in a disc of radius
// 0.4*128 about the centre, orientations uniform, shiftRange 1, oriRange 1:
//
// - Halvery's samples (3 shifts along each of 3 orientations an element),
//   one image after another, summed, with no request ahead and with
//   requests 32 samples ahead;
// - the lines Wendlow's scoring reads (every element under 8 rotations and
//   9 shifts, each pooled as above), one read per 64-byte line in storage
//   order: what no order of reading them can much improve on.
//
// The cold figures are floors for any kernel that reads these samples:
// compare them with the per-image time of the cached call.
//
//   build/bench/memory_floor            (target memory_floor; seconds)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "transform.h"

namespace {

constexpr int SIDE = 128, N = 16, ELEMENTS = 60, IMAGES = 512, CACHED_IMAGES = 8, CALLS = 12;

struct Sample {
    int map;  // orientation
    int at;   // linear index in the map
};

// The shift of pooling shift s along orientation o, as the kernels round it.
void shiftAlong(int o, int s, int& dx, int& dy)
{
    const double theta = M_PI * o / N;
    dx = static_cast<int>(std::floor(s * std::cos(theta) + 0.5));
    dy = static_cast<int>(std::floor(s * std::sin(theta) + 0.5));
}

struct Placed {
    int x, y, ori;
};

// One element of the template: at an integer position in the disc, of a
// uniform orientation.
Placed randomElement(std::mt19937& rng)
{
    std::uniform_real_distribution<double> u(0, 1);
    const double r = 0.4 * SIDE * std::sqrt(u(rng)), a = 2 * M_PI * u(rng);
    const int x = static_cast<int>(std::lround(SIDE / 2 + r * std::cos(a)));
    const int y = static_cast<int>(std::lround(SIDE / 2 + r * std::sin(a)));
    return {x, y, static_cast<int>(u(rng) * N)};
}

// The samples of one image, in pooling order: every shift along the
// element's orientation, in each orientation of its window.
std::vector<Sample> poolingSamples(std::mt19937& rng)
{
    std::vector<Sample> out;
    for (int e = 0; e < ELEMENTS; ++e) {
        const Placed el = randomElement(rng);
        for (int d = -1; d <= 1; ++d)
            for (int s = -1; s <= 1; ++s) {
                int dx, dy;
                shiftAlong(el.ori, s, dx, dy);
                out.push_back({(el.ori + d + N) % N, (el.x + dx - 1) + (el.y + dy - 1) * SIDE});
            }
    }
    return out;
}

// One sample of every 64-byte line Wendlow's scoring of one image reads
// (maps 64-byte aligned), in storage order: each element turned by 0, 4,
// ..., 28 steps about the centre and moved by every row and column shift of
// -1..1, then pooled over 3 shifts along its turned orientation in each of
// 3 orientations.
std::vector<Sample> searchLines(std::mt19937& rng)
{
    const int mapSize = SIDE * SIDE;
    std::vector<bool> read(static_cast<std::size_t>(N) * mapSize / 8);
    for (int e = 0; e < ELEMENTS; ++e) {
        const Placed el = randomElement(rng);
        for (int turn = 0; turn < 2 * N; turn += 4)
            for (int rowShift = -1; rowShift <= 1; ++rowShift)
                for (int colShift = -1; colShift <= 1; ++colShift) {
                    long long xyo[3];
                    geometricTransform(N, SIDE / 2, SIDE / 2, el.x, el.y, el.ori, rowShift, colShift, turn, xyo);
                    const int o = static_cast<int>(xyo[2]);
                    for (int d = -1; d <= 1; ++d)
                        for (int s = -1; s <= 1; ++s) {
                            int dx, dy;
                            shiftAlong(o, s, dx, dy);
                            const long long px = xyo[0] + dx, py = xyo[1] + dy;
                            if (px < 1 || px > SIDE || py < 1 || py > SIDE) continue;
                            const int at = (o + d + N) % N * mapSize + static_cast<int>((px - 1) + (py - 1) * SIDE);
                            read[at / 8] = true;
                        }
                }
    }
    std::vector<Sample> out;
    for (std::size_t line = 0; line < read.size(); ++line)
        if (read[line]) out.push_back({static_cast<int>(line * 8 / mapSize), static_cast<int>(line * 8 % mapSize)});
    return out;
}

// Microseconds per image of reading the samples of images first..first+count-1.
double readImages(const double* maps, int first, int count, const std::vector<Sample>& samples, int ahead,
                  double& sink)
{
    const std::size_t mapSize = static_cast<std::size_t>(SIDE) * SIDE;
    const std::size_t n = samples.size();
    const auto t0 = std::chrono::steady_clock::now();
    double sum = 0;
    for (int i = first; i < first + count; ++i) {
        const double* image = maps + static_cast<std::size_t>(i) * N * mapSize;
        for (std::size_t k = 0; k < n; ++k) {
            if (ahead > 0) {
                // The next image's first samples once this image's run out.
                const std::size_t j = k + ahead;
                const double* next = j < n ? image : image + N * mapSize;
                const Sample& s = samples[j < n ? j : j - n];
                if (j < n || i + 1 < first + count) __builtin_prefetch(next + s.map * mapSize + s.at);
            }
            sum += image[samples[k].map * mapSize + samples[k].at];
        }
    }
    const auto t1 = std::chrono::steady_clock::now();
    sink += sum;
    return std::chrono::duration<double, std::micro>(t1 - t0).count() / count;
}

// Median microseconds per image of reading samples from the cached or the
// cold batch.
double medianRead(const double* maps, const std::vector<Sample>& samples, bool cold, int ahead,
                  std::vector<char>& flush, double& sink)
{
    std::vector<double> t;
    for (int call = 0; call < CALLS + 1; ++call) {
        if (cold) std::memset(flush.data(), call, flush.size());
        const double us = readImages(maps, 0, cold ? IMAGES : CACHED_IMAGES, samples, ahead, sink);
        if (call > 0) t.push_back(us);  // the first call fills the caches
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

}  // namespace

int main()
{
    std::mt19937 rng(2);
    const std::vector<Sample> samples = poolingSamples(rng);
    const std::vector<Sample> lines = searchLines(rng);
    const std::size_t mapSize = static_cast<std::size_t>(SIDE) * SIDE;
    std::vector<double> storage(static_cast<std::size_t>(IMAGES) * N * mapSize + 8, 0.5);
    // Maps begin on a line, as searchLines assumes.
    double* maps = storage.data();
    while (reinterpret_cast<std::uintptr_t>(maps) % 64 != 0) ++maps;
    std::vector<char> flush(std::size_t(256) << 20);
    double sink = 0;
    std::printf("Halvery: %zu samples an image; Wendlow: %zu lines an image; us per image, medians of %d calls\n",
                samples.size(), lines.size(), CALLS);
    std::printf("%-34s %10s %12s %14s\n", "batch", "Halvery", "32 ahead", "Wendlow lines");
    for (const bool cold : {false, true}) {
        const double plain = medianRead(maps, samples, cold, 0, flush, sink);
        const double ahead = medianRead(maps, samples, cold, 32, flush, sink);
        const double search = medianRead(maps, lines, cold, 0, flush, sink);
        std::printf("%-34s %10.2f %12.2f %14.2f\n", cold ? "512 images, out of the caches" : "8 images, in the caches",
                    plain, ahead, search);
    }
    return sink == 42 ? 1 : 0;  // keeps the sums
}
