// The host side of the call-lived allocations the kernels ask for
// (common/alloc.h): the host allocator, and its errors with an identifier.
#include "alloc.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif
#include "host.h"
#include "pages.h"

namespace {

// The blocks of the call running now, while a CallBlocks owns them; kept
// between calls with their capacity, so that a call allocates nothing for
// the record.
std::vector<void*> callBlocks;
bool recording = false;

// Blocks of 32 MB and more come straight from the system, on 2 MB pages
// where it offers them, and go back when the call ends. glibc serves every
// block of that size (the most its threshold for reusing freed memory
// rises to) with fresh 4 kB pages, each a page fault when first written:
// the 32 MB of a score map's pooled maps at 512^2 x 16 took some 24 ms to
// fault in, on 2 MB pages 2-4 ms. Smaller blocks glibc serves from memory
// it has used before, with no faults at all. Octave only, where a call
// record always sees the call end; MATLAB builds keep to mxCalloc, which
// MATLAB frees itself.
#if defined(__linux__) && defined(MADV_HUGEPAGE) && !defined(MATLAB_MEX_FILE) && !defined(TOOLBOX_STANDIN)
#define OTK_MAPPED_BLOCKS 1
constexpr std::size_t MAPPED_BYTES = std::size_t(32) << 20;

struct Mapping {
    void* start;
    std::size_t length;
};
std::vector<Mapping> mappings;

// A zeroed block of at least bytes, or nullptr where the system refused.
// Each block of a call starts a little further into its first large page
// (a line more than a 4 kB page each), so that two blocks' elements of one
// index do not share cache sets.
void* mapBlock(std::size_t bytes)
{
    const std::size_t stagger = (mappings.size() % 16) * (4096 + 64);
    const std::size_t length = (bytes + stagger + LARGE_PAGE_BYTES - 1) / LARGE_PAGE_BYTES * LARGE_PAGE_BYTES +
                               LARGE_PAGE_BYTES;
    mappings.reserve(mappings.size() + 1);
    void* start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED) return nullptr;
    mappings.push_back({start, length});
    adviseLargePages(start, length);
    const std::uintptr_t first =
        (reinterpret_cast<std::uintptr_t>(start) + LARGE_PAGE_BYTES - 1) / LARGE_PAGE_BYTES * LARGE_PAGE_BYTES;
    return reinterpret_cast<void*>(first + stagger);
}
#else
#define OTK_MAPPED_BLOCKS 0
#endif

// The tighter of a limit and the budget so far; RLIM_INFINITY leaves it.
#if defined(__unix__) || defined(__APPLE__)
std::size_t tighten(std::size_t budget, int resource)
{
    struct rlimit limit;
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return budget;
    if (limit.rlim_cur < budget) return static_cast<std::size_t>(limit.rlim_cur);
    return budget;
}
#endif

// "<Function>:outOfMemory"; the otk_ functions share the component "otk".
void outOfMemoryId(char* id, std::size_t size)
{
    const char* fn = mexFunctionName();
    if (fn == nullptr) fn = "toolbox";
    if (std::strncmp(fn, "otk_", 4) == 0) fn = "otk";
    std::snprintf(id, size, "%s:outOfMemory", fn);
}

// Counts and sizes as doubles: their product may not fit a size_t.
[[noreturn]] void outOfMemory(const char* what, std::size_t count, std::size_t size, const char* why)
{
    char id[96];
    outOfMemoryId(id, sizeof id);
    mexErrMsgIdAndTxt(id, "cannot allocate %s: %.0f elements of %zu bytes %s", what ? what : "a work block",
                      static_cast<double>(count), size, why);
    std::abort();  // mexErrMsgIdAndTxt does not return
}

}  // namespace

// One block may be no larger than the physical memory of the machine, nor
// than the process's address-space or data limits. A block beyond physical
// memory could only be served by swapping the host to a standstill (or, with
// overcommit, by the kernel killing it once the block is touched), and one
// beyond a limit fails anyway, but with the host's anonymous error. Smaller
// blocks that still fail are left to the host's report. Where the platform
// tells us nothing, the budget is what a pointer difference can span.
std::size_t allocationBudget()
{
    std::size_t budget = PTRDIFF_MAX;
#if defined(__unix__) || defined(__APPLE__)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0 && static_cast<std::size_t>(pages) <= budget / static_cast<std::size_t>(pageSize))
        budget = static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
    budget = tighten(budget, RLIMIT_AS);
#if defined(RLIMIT_DATA)
    budget = tighten(budget, RLIMIT_DATA);
#endif
#endif
    return budget;
}

// Blocks up to this size are served without asking the system for its
// limits: no host runs in less, and the three system calls the budget costs
// would otherwise be most of a small call's time.
constexpr std::size_t ALWAYS_ALLOWED = std::size_t(1) << 26;

void requireAllocatable(std::size_t count, std::size_t size, const char* what)
{
    if (count == 0 || size == 0) return;
    if (count <= ALWAYS_ALLOWED / size) return;
    const std::size_t budget = allocationBudget();
    if (count <= budget / size) return;
    char why[96];
    std::snprintf(why, sizeof why, "exceed the %.0f bytes one block may take", static_cast<double>(budget));
    outOfMemory(what, count, size, why);
}

void outOfMemoryError(const char* fmt, ...)
{
    char message[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(message, sizeof message, fmt, ap);
    va_end(ap);
    char id[96];
    outOfMemoryId(id, sizeof id);
    mexErrMsgIdAndTxt(id, "%s", message);
    std::abort();  // mexErrMsgIdAndTxt does not return
}

void* allocZeroed(std::size_t count, std::size_t size)
{
    if (count == 0 || size == 0) return nullptr;
    requireAllocatable(count, size, nullptr);
#if OTK_MAPPED_BLOCKS
    if (recording && count >= MAPPED_BYTES / size) {
        void* mapped = mapBlock(count * size);
        if (mapped != nullptr) return mapped;
    }
#endif
    void* block = mxCalloc(count, size);
    if (block == nullptr) outOfMemory(nullptr, count, size, "were refused by the host");
    if (recording) callBlocks.push_back(block);
    return block;
}

double* allocDoubles(std::size_t n)
{
    return static_cast<double*>(allocZeroed(n, sizeof(double)));
}

int* allocInts(std::size_t n)
{
    return static_cast<int*>(allocZeroed(n, sizeof(int)));
}

// The rows are checked as one block before the first is taken, so a table
// too large as a whole is refused before the host hands out any of it.
int** allocIntTable(std::size_t n, std::size_t m)
{
    if (m > 0 && n > SIZE_MAX / m) requireAllocatable(SIZE_MAX, sizeof(int), "an int table");
    requireAllocatable(n * m, sizeof(int), "an int table");
    int** table = static_cast<int**>(allocZeroed(n, sizeof(int*)));
    for (std::size_t i = 0; i < n; ++i) table[i] = allocInts(m);
    return table;
}

#if !defined(TOOLBOX_STANDIN)
CallBlocks::CallBlocks() : owner(!recording)
{
    if (owner) {
        callBlocks.clear();
        recording = true;
    }
}

CallBlocks::~CallBlocks()
{
    if (!owner) return;
    for (void* block : callBlocks) mxFree(block);
    callBlocks.clear();
#if OTK_MAPPED_BLOCKS
    for (const Mapping& m : mappings) munmap(m.start, m.length);
    mappings.clear();
#endif
    recording = false;
}
#endif
