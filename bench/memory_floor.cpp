// What reading the samples of a pooling call costs on this machine, and
// nothing else: the samples Halvery's case A pools (60 elements at integer
// positions in a disc of radius 0.4*128 about the centre, orientations
// uniform, 3 shifts along each of 3 orientations) read from batches of
// images of 16 maps of 128^2, one image after another, summed. Timed two
// ways: from a batch the caches hold (the same 8 images at every call) and
// from a batch just pushed out of them (a 256 MB write between calls, as a
// batch of 512 images is at every call), each with no request ahead and
// with requests 32 samples ahead. The cold figure is a floor for any kernel
// that reads these samples: compare it with the per-image time of the
// cached call.
//
//   build/bench/memory_floor            (target memory_floor; seconds)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int SIDE = 128, N = 16, ELEMENTS = 60, IMAGES = 512, CACHED_IMAGES = 8, CALLS = 12;

struct Sample {
    int map;  // orientation
    int at;   // linear index in the map
};

// The samples of one image, in pooling order.
std::vector<Sample> poolingSamples(std::mt19937& rng)
{
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<Sample> out;
    for (int e = 0; e < ELEMENTS; ++e) {
        const double r = 0.4 * SIDE * std::sqrt(u(rng)), a = 2 * M_PI * u(rng);
        const int x = static_cast<int>(std::lround(SIDE / 2 + r * std::cos(a)));
        const int y = static_cast<int>(std::lround(SIDE / 2 + r * std::sin(a)));
        const int ori = static_cast<int>(u(rng) * N);
        for (int d = -1; d <= 1; ++d) {
            const int o = (ori + d + N) % N;
            const double theta = M_PI * o / N;
            for (int s = -1; s <= 1; ++s) {
                const int px = x + static_cast<int>(std::floor(s * std::cos(theta) + 0.5));
                const int py = y + static_cast<int>(std::floor(s * std::sin(theta) + 0.5));
                out.push_back({o, (px - 1) + (py - 1) * SIDE});
            }
        }
    }
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

}  // namespace

int main()
{
    std::mt19937 rng(2);
    const std::vector<Sample> samples = poolingSamples(rng);
    const std::size_t mapSize = static_cast<std::size_t>(SIDE) * SIDE;
    std::vector<double> maps(static_cast<std::size_t>(IMAGES) * N * mapSize, 0.5);
    std::vector<char> flush(std::size_t(256) << 20);
    double sink = 0;
    std::printf("%zu samples an image; us per image, medians of %d calls\n", samples.size(), CALLS);
    std::printf("%-34s %10s %12s\n", "batch", "no request", "32 ahead");
    for (const bool cold : {false, true}) {
        double median[2];
        for (const int ahead : {0, 32}) {
            std::vector<double> t;
            for (int call = 0; call < CALLS + 1; ++call) {
                if (cold) std::memset(flush.data(), call, flush.size());
                const int count = cold ? IMAGES : CACHED_IMAGES;
                const double us = readImages(maps.data(), 0, count, samples, ahead, sink);
                if (call > 0) t.push_back(us);  // the first call fills the caches
            }
            std::sort(t.begin(), t.end());
            median[ahead > 0] = t[t.size() / 2];
        }
        std::printf("%-34s %10.2f %12.2f\n", cold ? "512 images, out of the caches" : "8 images, in the caches",
                    median[0], median[1]);
    }
    return sink == 42 ? 1 : 0;  // keeps the sums
}
