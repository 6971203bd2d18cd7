// The argument readers: rounding rules, and the checks that turn a wrong
// call into a named host error.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "alloc.h"
#include "args.h"
#include "interrupt.h"
#include "standin.h"
#include "threads.h"
#include "waiting.h"

using namespace standin;

namespace {

const char* const names[] = {"first", "second", nullptr};

// An output a call keeps: destroyed here, as the host would at the end.
mxArray* detachedOutput()
{
    static std::unique_ptr<mxArray, void (*)(mxArray*)> kept{nullptr, mxDestroyArray};
    kept.reset(detached(2, 2));
    return kept.get();
}

struct Reader {
    std::vector<Array> arrays;
    std::vector<const mxArray*> prhs;
    explicit Reader(std::vector<Array> a) : arrays(std::move(a))
    {
        for (auto& x : arrays) prhs.push_back(x.get());
    }
    Gateway g() const { return {"Tester", static_cast<int>(prhs.size()), prhs.data(), names}; }
    ~Reader() { releaseAllocations(); }
};

int rounded(double v) { return roundArg(Reader({scalar(v)}).g(), 0); }
int floored(double v) { return floorArg(Reader({scalar(v)}).g(), 0); }

// The id and message of the error a reader raises.
template <class F>
HostError errorOf(F f)
{
    try {
        f();
    } catch (const HostError& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return HostError("", "");
}

}  // namespace

TEST(Readers, RoundArgTakesHalvesUpward)
{
    EXPECT_EQ(rounded(2.5), 3);
    EXPECT_EQ(rounded(2.4999), 2);
    EXPECT_EQ(rounded(-2.5), -2);
    EXPECT_EQ(rounded(-0.7), -1);
    EXPECT_EQ(rounded(3.0), 3);
    EXPECT_EQ(rounded(2147483647.0), 2147483647);
    EXPECT_EQ(rounded(-2147483648.0), -2147483647 - 1);
}

TEST(Readers, FloorArgAddsNoHalf)
{
    EXPECT_EQ(floored(2.9), 2);
    EXPECT_EQ(floored(3.0), 3);
    EXPECT_EQ(floored(-0.5), -1);
}

TEST(Readers, IntegerScalarsOfOtherNumericClassesAndLogicals)
{
    EXPECT_EQ(roundArg(Reader({scalar(7, Kind::Int32)}).g(), 0), 7);
    EXPECT_EQ(roundArg(Reader({scalar(1, Kind::Logical)}).g(), 0), 1);
    EXPECT_EQ(roundArg(Reader({scalar(2.5, Kind::Single)}).g(), 0), 3);
}

TEST(Readers, BadScalarsAreNamedByPosition)
{
    HostError e = errorOf([] { Reader r({scalar(1), scalar(1, Kind::Char)}); roundArg(r.g(), 1); });
    EXPECT_EQ(e.id, "Tester:notScalar");
    EXPECT_NE(std::string(e.what()).find("second (argument 2)"), std::string::npos) << e.what();

    e = errorOf([] { Reader r({zeros(1, 2)}); roundArg(r.g(), 0); });
    EXPECT_EQ(e.id, "Tester:notScalar");
    e = errorOf([] { Reader r({zeros(0, 0)}); rawArg(r.g(), 0); });
    EXPECT_EQ(e.id, "Tester:notScalar");
    e = errorOf([] { Reader r({scalar(1, Kind::Complex)}); roundArg(r.g(), 0); });
    EXPECT_EQ(e.id, "Tester:notScalar");
    e = errorOf([] { Reader r({cell(1, 1)}); roundArg(r.g(), 0); });
    EXPECT_EQ(e.id, "Tester:notScalar");

    e = errorOf([] { Reader r({scalar(NAN)}); roundArg(r.g(), 0); });
    EXPECT_EQ(e.id, "Tester:notFinite");
    e = errorOf([] { Reader r({scalar(INFINITY)}); floorArg(r.g(), 0); });
    EXPECT_EQ(e.id, "Tester:notFinite");
    e = errorOf([] { Reader r({scalar(2147483647.5)}); roundArg(r.g(), 0); });
    EXPECT_EQ(e.id, "Tester:intRange");
    e = errorOf([] { Reader r({scalar(-2147483649.0)}); floorArg(r.g(), 0); });
    EXPECT_EQ(e.id, "Tester:intRange");

    e = errorOf([] { Reader r({scalar(1), scalar(1), scalar(-1)}); countArg(r.g(), 2); });
    EXPECT_EQ(e.id, "Tester:negativeCount");
    EXPECT_NE(std::string(e.what()).find("argument 3"), std::string::npos) << e.what();
}

TEST(Readers, RawDoubleIsUnchangedEvenWhenNotFinite)
{
    EXPECT_EQ(rawArg(Reader({scalar(-0.25)}).g(), 0), -0.25);
    EXPECT_TRUE(std::isnan(rawArg(Reader({scalar(NAN)}).g(), 0)));
}

TEST(Readers, DataArgumentsMustBeRealDoubleAndLongEnough)
{
    Array a = column({1, 2, 3});
    Reader r({a});
    EXPECT_EQ(dataArg(r.g(), 0, 3), values(a).data());
    EXPECT_EQ(errorOf([&] { dataArg(r.g(), 0, 4); }).id, "Tester:tooShort");
    EXPECT_EQ(errorOf([] { dataArg(Reader({matrix(2, 1, {}, Kind::Single)}).g(), 0, 1); }).id, "Tester:notDouble");
    EXPECT_EQ(errorOf([] { dataArg(Reader({matrix(2, 1, {}, Kind::Complex)}).g(), 0, 1); }).id, "Tester:notDouble");
    EXPECT_EQ(errorOf([] { dataArg(Reader({matrix(2, 1, {}, Kind::Sparse)}).g(), 0, 1); }).id, "Tester:notDouble");
    EXPECT_EQ(errorOf([] { dataArg(Reader({cell(2, 1)}).g(), 0, 1); }).id, "Tester:notDouble");
}

TEST(Readers, MapGridFollowsColumnMajorCellOrder)
{
    Array c = cell(2, 3);
    for (int k = 0; k < 6; ++k) setCell(c, k, matrix(2, 2, {double(k)}));
    Reader r({c});
    MapGrid grid = readMapGrid(r.g(), 0, 2, 3, 4);
    EXPECT_EQ(grid[1][0], 1.0);  // row 1, column 0
    EXPECT_EQ(grid[2][0], 2.0);  // row 0, column 1
    for (int k = 0; k < 6; ++k) EXPECT_EQ(grid[k], values(cellContent(c, k)).data());

    // A cell list given as a row, and a grid with more cells than needed.
    Array row = cellOf(1, 3, {zeros(2, 2), zeros(2, 2), zeros(2, 2)});
    EXPECT_NO_THROW(readMapGrid(Reader({row}).g(), 0, 2, 1, 4));
    // An empty grid reads nothing.
    EXPECT_EQ(readMapGrid(Reader({cell(0, 0)}).g(), 0, 0, 5, 4), nullptr);
}

TEST(Readers, SharedCellsGiveTheSamePointer)
{
    Array block = zeros(2, 2);
    Array c = cellOf(2, 1, {block, block});
    Reader r({c});
    MapGrid grid = readMapGrid(r.g(), 0, 2, 1, 4);
    EXPECT_EQ(grid[0], grid[1]);
}

// A double array at a grid position holds the maps one after another: the
// R x C grid's cell (r, c) is map c + C*r, so a grid of nImages x N stacks is
// the nRows x nCols x N x nImages array. Larger arrays are fine, as larger
// cells are.
TEST(Readers, DoubleArrayHoldsTheGridMapAfterMap)
{
    std::vector<double> v(2 * 3 * 4 + 5);
    for (std::size_t k = 0; k < v.size(); ++k) v[k] = static_cast<double>(k);
    Array a = matrix(1, v.size(), v);
    Reader r({a});
    MapGrid grid = readMapGrid(r.g(), 0, 3, 2, 4);  // 3 images x 2 orientations, 4 doubles a map
    const double* base = values(a).data();
    for (int image = 0; image < 3; ++image)
        for (int ori = 0; ori < 2; ++ori) EXPECT_EQ(grid[image + 3 * ori], base + 4 * (ori + 2 * image));
    EXPECT_EQ(readMapGrid(r.g(), 0, 0, 2, 4), nullptr);  // no map, no table
}

#if defined(__linux__)
// The flags of the mapping that holds address p, from /proc/self/smaps.
std::string mappingFlags(const void* p)
{
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR " ", &from, &to) == 2 && line.find(':') > line.find(' ')) {
            inside = from <= at && at < to;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line;
        }
    }
    return "";
}

// A large map array is offered to the system for 2 MB pages: its whole large
// pages, never the storage around it; a small one is left as it is.
TEST(Readers, LargeMapArraysAreOfferedLargePages)
{
    if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled")) GTEST_SKIP() << "no large pages here";
    Array big = matrix(1, 3 << 20, {});   // 24 MB
    Array small = matrix(1, 3 << 18, {});  // 6 MB: whole large pages, but below the size asked about
    Reader r({big, small});
    const double* b = values(big).data();
    const double* s = values(small).data();
    readMapGrid(r.g(), 0, 2, 2, 1 << 18);
    readMapGrid(r.g(), 1, 2, 2, 3 << 16);
    const std::uintptr_t page = std::uintptr_t(1) << 21;
    const std::uintptr_t inner = (reinterpret_cast<std::uintptr_t>(b) + page - 1) & ~(page - 1);
    EXPECT_NE(mappingFlags(reinterpret_cast<const void*>(inner)).find(" hg"), std::string::npos);
    EXPECT_NE(mappingFlags(reinterpret_cast<const void*>(inner + 10 * page)).find(" hg"), std::string::npos);
    // The bytes before the first whole large page belong to the host.
    if (reinterpret_cast<std::uintptr_t>(b) < inner) {
        EXPECT_EQ(mappingFlags(b).find(" hg"), std::string::npos);
    }
    EXPECT_EQ(mappingFlags(s + (1 << 18)).find(" hg"), std::string::npos);
}
#endif

// A call given a megabyte of maps or more wakes its sleeping helpers as the
// maps are read, but not a gateway whose calls never take threads (a plain
// build timed against the plug-ins): its helpers would stay awake for
// nothing, and take the turn from another plug-in's.
TEST(Readers, AMegabyteOfMapsWakesHelpersUnlessTheGatewayIsSerial)
{
    setenv(THREADS_VARIABLE, "2", 1);
    setenv(SPIN_VARIABLE, "20000", 1);
    auto nothing = [](long long) {};
    forEachChunk(4, 2, nothing);  // the pool has its helper
    auto allAsleep = [] { return poolHelpers() >= 1 && poolSleeping() == poolHelpers(); };
    ASSERT_TRUE(eventually(allAsleep));
    Array maps = matrix(1, 1 << 17, {});
    Reader r({maps});
    // Woken, a helper naps again (after its spin, or at once on the
    // caller's core); a loaded machine has waits sleep at once and wakes
    // nobody, so the read is asked again.
    long long naps = poolNaps();
    EXPECT_TRUE(eventually([&] {
        readMapGrid(r.g(), 0, 1, 1, 1 << 17);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return poolNaps() > naps;
    })) << "a megabyte of maps woke no helper";
    ASSERT_TRUE(eventually(allAsleep));
    Gateway serial = r.g();
    serial.serialOnly = true;
    naps = poolNaps();
    readMapGrid(serial, 0, 1, 1, 1 << 17);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // A woken helper would be awake yet, or asleep again after a nap.
    EXPECT_TRUE(allAsleep() && poolNaps() == naps) << "a serial gateway woke a helper";
    unsetenv(THREADS_VARIABLE);
    unsetenv(SPIN_VARIABLE);
}

TEST(Readers, BadGridsAreRejected)
{
    EXPECT_EQ(errorOf([] { readMapGrid(Reader({matrix(2, 2, {}, Kind::Int32)}).g(), 0, 1, 1, 1); }).id,
              "Tester:notCell");
    EXPECT_EQ(errorOf([] { readMapGrid(Reader({zeros(2, 2)}).g(), 0, 2, 1, 3); }).id, "Tester:tooFewMaps");
    EXPECT_EQ(errorOf([] { readMapGrid(Reader({cellOf(1, 1, {zeros(2, 2)})}).g(), 0, 2, 1, 1); }).id,
              "Tester:tooFewCells");
    HostError e = errorOf([] { readMapGrid(Reader({cellOf(2, 1, {zeros(2, 2), zeros(1, 3)})}).g(), 0, 2, 1, 4); });
    EXPECT_EQ(e.id, "Tester:cellTooSmall");
    EXPECT_NE(std::string(e.what()).find("cell 2"), std::string::npos) << e.what();
    // An unset cell, a cell of another class, a complex cell.
    EXPECT_EQ(errorOf([] { readMapGrid(Reader({cell(1, 1)}).g(), 0, 1, 1, 0); }).id, "Tester:badCell");
    EXPECT_EQ(errorOf([] { readMapGrid(Reader({cellOf(1, 1, {matrix(2, 2, {}, Kind::Int32)})}).g(), 0, 1, 1, 4); }).id,
              "Tester:badCell");
    EXPECT_EQ(errorOf([] { readMapGrid(Reader({cellOf(1, 1, {matrix(2, 2, {}, Kind::Complex)})}).g(), 0, 1, 1, 4); }).id,
              "Tester:badCell");
}

TEST(Readers, IntValuesAfterTruncation)
{
    Reader r({zeros(1, 1)});
    const double good[] = {-2147483648.9, 2147483647.9, -0.5, 0};
    EXPECT_NO_THROW(requireIntValues(r.g(), 0, good, 4));
    const double bad[] = {1, 2147483648.0};
    EXPECT_EQ(errorOf([&] { requireIntValues(r.g(), 0, bad, 2); }).id, "Tester:badValue");
    const double nan[] = {NAN};
    EXPECT_EQ(errorOf([&] { requireIntValues(r.g(), 0, nan, 1); }).id, "Tester:badValue");
    EXPECT_NO_THROW(requireIntValues(r.g(), 0, bad, 1));  // only the first count are read
}

TEST(Readers, FewerInputsThanNeeded)
{
    Reader r({scalar(1)});
    HostError e = errorOf([&] { requireInputs(r.g(), 2); });
    EXPECT_EQ(e.id, "Tester:nargin");
    EXPECT_NO_THROW(requireInputs(r.g(), 1));
}

TEST(Allocation, IntTableGivesDistinctZeroFilledRows)
{
    int** t = allocIntTable(3, 4);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) EXPECT_EQ(t[i][j], 0);
        for (int j = 0; j < i; ++j) EXPECT_NE(t[i], t[j]);
        t[i][3] = i;  // rows do not overlap: ASan would see a write past one
    }
    double* d = allocDoubles(5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(d[i], 0.0);
    releaseAllocations();
}

TEST(Maps, LinearIndex)
{
    EXPECT_EQ(linearIndex(1, 1, 5, 7), 0);
    EXPECT_EQ(linearIndex(5, 7, 5, 7), 34);
    EXPECT_EQ(linearIndex(2, 1, 5, 7), 1);
    EXPECT_EQ(linearIndex(1, 2, 5, 7), 5);
    EXPECT_EQ(linearIndex(1, 2, 5, -99), 5);
    // Beyond 2^31 elements the offset stays exact.
    EXPECT_EQ(linearIndex(70000, 70000, 70000, 70000), 70000LL * 70000 - 1);
}

// The watch of the otk_ gateways, through the branch MATLAB builds (the
// stand-in answers utIsInterruptPending): with an interrupt pending the
// chunks stop on 1 and 2 threads, check() destroys the outputs given (a
// leak check at exit would find one it kept) and raises otk:interrupted;
// without one, or once the watch is gone, nothing is stopped.
TEST(Interrupts, TheWatchStopsChunksAndDiscardsTheOutputs)
{
    for (int threads : {1, 2}) {
        std::atomic<int> ran{0};
        auto body = [&](long long) { ran.fetch_add(1); };
        {
            const InterruptWatch watch("otk_probe");
            setInterruptPending(false);
            ASSERT_TRUE(forEachChunk(50, threads, body));
            EXPECT_EQ(ran.load(), 50);
            EXPECT_FALSE(watch.stopped());
            watch.check({detachedOutput()});  // not stopped: the output is kept
            setInterruptPending(true);
            ASSERT_TRUE(forEachChunk(50, threads, body));
            EXPECT_EQ(ran.load(), 50) << threads << " threads: chunks ran with an interrupt pending";
            EXPECT_TRUE(watch.stopped());
            std::string id;
            try {
                watch.check({detached(3, 4), nullptr, detached(1, 1)});
            } catch (const HostError& e) {
                id = e.id;
            }
            EXPECT_EQ(id, "otk:interrupted");
        }
        EXPECT_FALSE(chunksStopped());
        ASSERT_TRUE(forEachChunk(50, threads, body));  // no watch: the pending interrupt is not asked
        EXPECT_EQ(ran.load(), 100);
        setInterruptPending(false);
    }
}
