// Question: how long does merely reading a pooling call's samples (and
// Wendlow's lines) take, from the caches and from memory?
// Figure: the memory floor of big batches, us per image
// (docs/performance.md, "memory_floor").
//
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
// - Halvery's samples and then its drawing lines (a 7 x 7 patch about each
//   element, each line read and written once), on render maps zeroed
//   before each call as the host's are: the lines a Halvery call with
//   patchHalf 3 must move, and nothing else ("+ drawing").
//
// The cold figures are floors for any kernel that reads these samples:
// compare them with the per-image time of the cached call. The "2 threads"
// columns split the images over the caller and one helper (wall clock per
// image): what the second core adds to the reading. "all requested" asks
// for every line of an image (into the second-level cache, requestFar)
// before reading any: on 512 images 43-45 us an image against 72-74
// without, where requests into the first-level cache left it at 74-92.
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

#include "cpu.h"
#include "threads.h"
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

// One entry of every 64-byte line a 7 x 7 patch centred on each element of
// one image covers in its render map (map begun on a line): the lines a
// drawing (patchHalf 3) fetches and writes back.
std::vector<int> drawingLines(std::mt19937& rng)
{
    std::vector<int> out;
    for (int e = 0; e < ELEMENTS; ++e) {
        const Placed el = randomElement(rng);
        for (int c = el.y - 3; c <= el.y + 3; ++c) {
            int last = -1;
            for (int r = el.x - 3; r <= el.x + 3; ++r) {
                const int at = (r - 1) + (c - 1) * SIDE;
                if (at / 8 != last) out.push_back(at);
                last = at / 8;
            }
        }
    }
    return out;
}

// Requests every sample of an image before reading any (see readImages).
constexpr int ALL_FIRST = -1;

// A request into the second-level cache. The kernels' requestLine goes to
// the first level, which cannot hold a whole image's lines until they are
// read (all requested: 32 images call after call 173-202 us an image with
// it, 58-67 with this).
inline void requestFar(const void* p)
{
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
    asm volatile("prefetcht1 %0" : : "m"(*static_cast<const char*>(p)));
#else
    requestLine(p);
#endif
}

// The sum of the samples of images first..first+count-1: with ahead > 0,
// each read comes with a request ahead-th sample on; with ALL_FIRST, each
// image's samples are all requested before they are read.
double readImages(const double* maps, int first, int count, const std::vector<Sample>& samples, int ahead)
{
    const std::size_t mapSize = static_cast<std::size_t>(SIDE) * SIDE;
    const std::size_t n = samples.size();
    double sum = 0;
    for (int i = first; i < first + count; ++i) {
        const double* image = maps + static_cast<std::size_t>(i) * N * mapSize;
        if (ahead == ALL_FIRST)
            for (const Sample& s : samples) requestFar(image + s.map * mapSize + s.at);
        for (std::size_t k = 0; k < n; ++k) {
            if (ahead > 0) {
                // The next image's first samples once this image's run out.
                const std::size_t j = k + ahead;
                const double* next = j < n ? image : image + N * mapSize;
                const Sample& s = samples[j < n ? j : j - n];
                if (j < n || i + 1 < first + count) requestLine(next + s.map * mapSize + s.at);
            }
            sum += image[samples[k].map * mapSize + samples[k].at];
        }
    }
    return sum;
}

// Each image's samples read and then its drawing lines raised in its
// render map, every access with a request `ahead` accesses on, along
// samples and lines alike and into the next image's.
double readAndDraw(const double* maps, double* renders, int first, int count, const std::vector<Sample>& samples,
                   const std::vector<int>& drawing, std::size_t ahead)
{
    const std::size_t mapSize = static_cast<std::size_t>(SIDE) * SIDE;
    const std::size_t n = samples.size(), m = drawing.size();
    auto request = [&](int i, std::size_t j) {
        if (j >= n + m) {
            j -= n + m;
            ++i;
        }
        if (i >= first + count) return;
        if (j < n)
            requestLine(maps + static_cast<std::size_t>(i) * N * mapSize + samples[j].map * mapSize + samples[j].at);
        else
            requestLine(renders + static_cast<std::size_t>(i) * mapSize + drawing[j - n]);
    };
    double sum = 0;
    for (int i = first; i < first + count; ++i) {
        const double* image = maps + static_cast<std::size_t>(i) * N * mapSize;
        double* render = renders + static_cast<std::size_t>(i) * mapSize;
        for (std::size_t k = 0; k < n; ++k) {
            request(i, k + ahead);
            sum += image[samples[k].map * mapSize + samples[k].at];
        }
        for (std::size_t k = 0; k < m; ++k) {
            request(i, n + k + ahead);
            render[drawing[k]] += 1;
        }
    }
    return sum;
}

// Median microseconds per image (wall clock) of reading samples from the
// cached or the cold batch, its images split evenly over the threads.
double medianRead(const double* maps, int images, const std::vector<Sample>& samples, bool cold, int ahead,
                  int threads, std::vector<char>& flush, double& sink)
{
    std::vector<double> t, sums(threads);
    for (int call = 0; call < CALLS + 1; ++call) {
        if (cold) std::memset(flush.data(), call, flush.size());
        const auto t0 = std::chrono::steady_clock::now();
        auto part = [&](long long k) {
            const int first = static_cast<int>(images * k / threads);
            sums[k] = readImages(maps, first, static_cast<int>(images * (k + 1) / threads) - first, samples, ahead);
        };
        forEachChunk(threads, threads, part);
        const auto t1 = std::chrono::steady_clock::now();
        for (const double s : sums) sink += s;
        if (call > 0) t.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() / images);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// medianRead of readAndDraw, one thread, the render maps zeroed before
// each call as the host makes them (glibc's memset streams a big block past
// the caches, as it does the host's): the least median over requests 32,
// 64 and 128 accesses ahead. On 512 images 16 ahead took 12.5 us an image,
// 32 10.4, 64 8.7, 128 8.4, 256 11.0.
double medianDrawn(const double* maps, double* renders, int images, const std::vector<Sample>& samples,
                   const std::vector<int>& drawing, bool cold, std::vector<char>& flush, double& sink)
{
    const std::size_t renderBytes = static_cast<std::size_t>(images) * SIDE * SIDE * sizeof(double);
    double least = 0;
    for (const std::size_t ahead : {32, 64, 128}) {
        std::vector<double> t;
        for (int call = 0; call < CALLS + 1; ++call) {
            if (cold) std::memset(flush.data(), call, flush.size());
            std::memset(renders, 0, renderBytes);
            const auto t0 = std::chrono::steady_clock::now();
            sink += readAndDraw(maps, renders, 0, images, samples, drawing, ahead);
            const auto t1 = std::chrono::steady_clock::now();
            if (call > 0) t.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() / images);
        }
        sink += renders[0];
        std::sort(t.begin(), t.end());
        const double median = t[t.size() / 2];
        least = least == 0 || median < least ? median : least;
    }
    return least;
}

}  // namespace

int main()
{
    std::mt19937 rng(2);
    const std::vector<Sample> samples = poolingSamples(rng);
    const std::vector<Sample> lines = searchLines(rng);
    std::mt19937 same(2);  // the template of the samples again
    const std::vector<int> drawing = drawingLines(same);
    const std::size_t mapSize = static_cast<std::size_t>(SIDE) * SIDE;
    std::vector<double> storage(static_cast<std::size_t>(IMAGES) * N * mapSize + 8, 0.5);
    // Maps begin on a line, as searchLines assumes.
    double* maps = storage.data();
    while (reinterpret_cast<std::uintptr_t>(maps) % 64 != 0) ++maps;
    std::vector<char> flush(std::size_t(256) << 20);
    std::vector<double> renderStorage(static_cast<std::size_t>(IMAGES) * mapSize + 8);
    double* renders = renderStorage.data();
    while (reinterpret_cast<std::uintptr_t>(renders) % 64 != 0) ++renders;
    double sink = 0;
    std::printf("Halvery: %zu samples an image; Wendlow: %zu lines an image; us per image, medians of %d calls\n",
                samples.size(), lines.size(), CALLS);
    std::printf("%-34s %10s %12s %10s %10s %14s %13s %10s\n", "batch", "Halvery", "32 ahead", "+ drawing", "2 threads",
                "Wendlow lines", "all requested", "2 threads");
    struct Batch {
        const char* name;
        int images;
        bool cold;
    };
    // The middle one is the through-host calls' case A: 32 images (64 MB),
    // called again and again, each call finding what the caches kept of
    // the one before.
    for (const Batch& b : {Batch{"8 images, in the caches", CACHED_IMAGES, false},
                           Batch{"32 images, call after call", 32, false},
                           Batch{"512 images, out of the caches", IMAGES, true}}) {
        const double plain = medianRead(maps, b.images, samples, b.cold, 0, 1, flush, sink);
        const double ahead = medianRead(maps, b.images, samples, b.cold, 32, 1, flush, sink);
        const double drawn = medianDrawn(maps, renders, b.images, samples, drawing, b.cold, flush, sink);
        const double plain2 = medianRead(maps, b.images, samples, b.cold, 0, 2, flush, sink);
        const double search = medianRead(maps, b.images, lines, b.cold, 0, 1, flush, sink);
        const double requested = medianRead(maps, b.images, lines, b.cold, ALL_FIRST, 1, flush, sink);
        const double search2 = medianRead(maps, b.images, lines, b.cold, 0, 2, flush, sink);
        std::printf("%-34s %10.2f %12.2f %10.2f %10.2f %14.2f %13.2f %10.2f\n", b.name, plain, ahead, drawn, plain2, search,
                    requested, search2);
    }
    return sink == 42 ? 1 : 0;  // keeps the sums
}
