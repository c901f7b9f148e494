// The memory soak: allocation with a check against what the machine can provide, the
// parallel random fill of the test area, and the compress-and-expand cycle over windows
// drawn from it. See memsoak_run.h for the contract.
#include "memsoak_run.h"
#include "print_report.h"
#include "threading.h"

#include <sys/resource.h>
#include <sys/sysinfo.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <new>

// Reports name the source file without the build's directory.

namespace {

// The largest value of rand(); the run length is scaled by it.
const int64_t rand_largest = 2147483647;
static_assert(RAND_MAX == rand_largest, "the fill expects rand() to span 0 to 2^31 - 1");

// Windows start at multiples of this many bytes.
const int64_t offset_granularity = 120;

const unsigned first_seed = 12345;
const unsigned seed_step = 13;

uint64_t saturating_add(uint64_t a, uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

uint64_t saturating_mul(uint64_t a, uint64_t b)
{
    return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b;
}

// Reads the decimal number at the start of a file; false for a missing file or for a
// word such as "max" (no limit).
bool read_number_file(const char* path, uint64_t& value)
{
    FILE* f = fopen(path, "r");
    if (!f)
        return false;
    unsigned long long v = 0;
    int got = fscanf(f, "%llu", &v);
    fclose(f);
    if (got != 1)
        return false;
    value = v;
    return true;
}

void lower_to_file_limit(uint64_t& limit, const char* path)
{
    uint64_t v = 0;
    if (read_number_file(path, v))
        limit = std::min(limit, v);
}

// Whether a comma-separated list of cgroup controllers names the memory controller.
bool names_memory_controller(const char* list, size_t length)
{
    const char* word = list;
    const char* end = list + length;
    while (word < end) {
        const char* comma = static_cast<const char*>(memchr(word, ',', size_t(end - word)));
        const char* word_end = comma ? comma : end;
        if (word_end - word == 6 && memcmp(word, "memory", 6) == 0)
            return true;
        word = word_end + 1;
    }
    return false;
}

// The memory limit of the process's control group, UINT64_MAX when there is none or it
// cannot be read. Inside a container the group is usually the root of the mounted
// hierarchy; elsewhere it is the path that /proc/self/cgroup names.
uint64_t cgroup_memory_limit()
{
    uint64_t limit = UINT64_MAX;
    lower_to_file_limit(limit, "/sys/fs/cgroup/memory.max");
    lower_to_file_limit(limit, "/sys/fs/cgroup/memory/memory.limit_in_bytes");

    FILE* f = fopen("/proc/self/cgroup", "r");
    if (!f)
        return limit;
    char line[4096];
    while (fgets(line, sizeof line, f)) {
        // "hierarchy-id:controllers:path"; an empty controller list is the unified hierarchy
        char* first = strchr(line, ':');
        char* second = first ? strchr(first + 1, ':') : nullptr;
        if (!second)
            continue;
        char* group = second + 1;
        group[strcspn(group, "\n")] = '\0';
        size_t controllers_length = size_t(second - (first + 1));
        char path[4200];
        int n = -1;
        if (controllers_length == 0)
            n = snprintf(path, sizeof path, "/sys/fs/cgroup%s/memory.max", group);
        else if (names_memory_controller(first + 1, controllers_length))
            n = snprintf(path, sizeof path, "/sys/fs/cgroup/memory%s/memory.limit_in_bytes", group);
        if (n > 0 && size_t(n) < sizeof path)
            lower_to_file_limit(limit, path);
    }
    fclose(f);
    return limit;
}

// Gives size bytes of uninitialised memory, or null with errno set. A request that would
// take the process's soak memory (already_taken plus size) beyond what the machine can
// provide fails with ENOMEM without reaching the allocator: with overcommitting enabled the
// allocator would grant it, and filling it would then exhaust the machine.
unsigned char* allocate_area(int64_t size, int64_t already_taken)
{
    uint64_t total = saturating_add(uint64_t(size), uint64_t(already_taken));
    if (uint64_t(size) > SIZE_MAX || total > memory_ceiling()) {
        errno = ENOMEM;
        return nullptr;
    }
    return static_cast<unsigned char*>(malloc(size_t(size)));
}

// The allocation report: the system's text for errno, then the place, then the size.
void report_allocation_failure(int line, long long size)
{
    perror(nullptr);
    fprintf(stderr, "\n\n%s:%d\n\n", VID_SOURCE_NAME, line);
    fprintf(stderr, "Unable to allocate memory of size %lld bytes.\n", size);
}

// Everything one soak holds; released on every return of run_memsoak.
struct SoakResources {
    unsigned char* compressed_area = nullptr;
    unsigned char* test_area = nullptr;
    Random_values_datastruct* records = nullptr;
    THREAD_HANDLE* threads = nullptr;

    SoakResources() = default;
    SoakResources(const SoakResources&) = delete;
    SoakResources& operator=(const SoakResources&) = delete;
    ~SoakResources()
    {
        delete[] threads;
        delete[] records;
        free(test_area);
        free(compressed_area);
    }
};

bool sizes_describe_a_soak(const MemsoakSizes& z)
{
    // The codec forms its offsets in unsigned 32-bit arithmetic: inputs and capacities stay
    // below 2^32.
    if (z.compressed_area_size < 1 || z.compressed_area_size > int64_t(UINT32_MAX))
        return false;
    if (z.window_size < 1 || z.window_size > int64_t(UINT32_MAX))
        return false;
    if (z.memory_size <= z.compressed_area_size ||
        z.memory_size - z.compressed_area_size < z.window_size)
        return false;
    if (z.passes < 0 || z.cycles_per_pass < 0 || z.num_processors < 1)
        return false;
    return z.cycles_per_pass == 0 || z.passes <= INT_MAX / z.cycles_per_pass;
}

// One pass's fill: starts every filler thread in index order and joins them in index
// order. A thread that cannot be started is reported and no further one is started; those
// already running are still joined before the function returns false.
bool fill_test_area(SoakResources& r, int num_threads, const MemsoakSizes& z)
{
    auto start = z.start_thread ? z.start_thread : start_processing_thread;
    for (int i = 0; i < num_threads; i++)
        r.threads[i] = 0;
    bool all_started = true;
    for (int i = 0; i < num_threads; i++) {
        int rc = start(r.threads[i], set_random_values_thread, &r.records[i]);
        if (rc != 0) {
            r.threads[i] = 0;
            std::string report;
            describe_thread_start_failure(&report, rc, i, VID_SOURCE_NAME, __LINE__);
            fputs(report.c_str(), stderr);
            all_started = false;
            break;
        }
    }
    join_processing_threads(num_threads, r.threads);
    return all_started;
}

} // namespace

void* set_random_values_thread(void* thread_arg)
{
    Random_values_datastruct* record = static_cast<Random_values_datastruct*>(thread_arg);
    int64_t p = record->start_offset;
    while (p < record->end_offset) {
        int64_t run = (20 * int64_t(rand())) / rand_largest;
        int64_t count = std::min(run, record->end_offset - p);
        unsigned char value = static_cast<unsigned char>(rand() & 0xFF);
        if (count > 0) {
            memset(record->buffer + p, value, size_t(count));
            p += count;
        }
    }
    return nullptr;
}

void divide_into_fill_shares(Random_values_datastruct* records, int num_threads,
                             unsigned char* buffer, int64_t area_size)
{
    // s * (i + 1) <= area_size + num_threads: no overflow for any area that fits in memory
    int64_t share = area_size / num_threads + (area_size % num_threads != 0 ? 1 : 0);
    for (int i = 0; i < num_threads; i++) {
        records[i].buffer = buffer;
        records[i].start_offset = std::min(share * i, area_size);
        records[i].end_offset = std::min(share * (i + 1), area_size);
    }
}

int64_t draw_window_offset(int64_t test_area_size, int64_t window_size)
{
    for (;;) {
        int64_t offset = offset_granularity * int64_t(lrand48());
        if (offset <= test_area_size - window_size)
            return offset;
    }
}

uint64_t memory_ceiling()
{
    uint64_t ceiling = UINT64_MAX;
    uint64_t swap = 0;
    struct sysinfo info;
    if (sysinfo(&info) == 0) {
        uint64_t unit = info.mem_unit ? info.mem_unit : 1;
        swap = saturating_mul(info.totalswap, unit);
        ceiling = saturating_add(saturating_mul(info.totalram, unit), swap);
    }
    // A control group may swap as well; its limit covers memory alone.
    uint64_t group = cgroup_memory_limit();
    if (group != UINT64_MAX)
        ceiling = std::min(ceiling, saturating_add(group, swap));

    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        ceiling = std::min<uint64_t>(ceiling, limit.rlim_cur);
    if (getrlimit(RLIMIT_DATA, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        ceiling = std::min<uint64_t>(ceiling, limit.rlim_cur);
    return ceiling;
}

MemsoakSizes memsoak_fixed_sizes()
{
    MemsoakSizes z;
    z.memory_size = 515396075400LL; // 120 * (2^32 - 1)
    z.compressed_area_size = 2147483647;
    z.window_size = 2147483647;
    z.passes = 500;
    z.cycles_per_pass = 20;
    z.num_processors = get_num_processing_cores();
    z.start_thread = nullptr;
    return z;
}

int run_memsoak(const MemsoakSizes& z)
{
    VID_RETURN_IF(!sizes_describe_a_soak(z), 1, "The sizes do not describe a soak.\n");
    const int64_t test_area_size = z.memory_size - z.compressed_area_size;
    SoakResources r;

    r.compressed_area = allocate_area(z.compressed_area_size, 0);
    if (!r.compressed_area) {
        report_allocation_failure(__LINE__, z.memory_size);
        return 1;
    }
    r.test_area = allocate_area(test_area_size, z.compressed_area_size);
    if (!r.test_area) {
        report_allocation_failure(__LINE__, z.memory_size);
        return 1;
    }

    fprintf(stderr, "Starting zlib based memory test using %lld bytes.\n",
            static_cast<long long>(z.memory_size));

    int counter = 1;
    const int total_cycles = z.passes * z.cycles_per_pass;
    const int num_threads = z.num_processors;
    r.records = new (std::nothrow) Random_values_datastruct[size_t(num_threads)];
    r.threads = new (std::nothrow) THREAD_HANDLE[size_t(num_threads)];
    if (!r.records || !r.threads) {
        errno = ENOMEM;
        report_allocation_failure(
            __LINE__,
            static_cast<long long>(size_t(num_threads) *
                                   (sizeof(Random_values_datastruct) + sizeof(THREAD_HANDLE))));
        return 1;
    }
    divide_into_fill_shares(r.records, num_threads, r.test_area, test_area_size);

    for (int pass = 0; pass < z.passes; pass++) {
        srand(first_seed + seed_step * unsigned(pass));
        if (!fill_test_area(r, num_threads, z))
            return 1;

        for (int cycle = 0; cycle < z.cycles_per_pass; cycle++) {
            int64_t offset = draw_window_offset(test_area_size, z.window_size);
            fprintf(stderr, "Offset %lld bytes.\n", static_cast<long long>(offset));

            unsigned char* window = r.test_area + offset;
            unsigned long compressed_size = static_cast<unsigned long>(z.compressed_area_size);
            if (compress_MT(r.compressed_area, compressed_size, window,
                            static_cast<unsigned long>(z.window_size)) != 0) {
                fprintf(stderr, "Compression error.\n");
                return 1;
            }
            // The expanded data goes back over the window it came from; a caller's buffer
            // is given, so nothing is allocated.
            unsigned long expanded_size = static_cast<unsigned long>(z.window_size);
            if (uncompress_MT(window, expanded_size, r.compressed_area, compressed_size) != 0) {
                fprintf(stderr, "De-compression error.\n");
                return 1;
            }
            fprintf(stderr, "%6d of %6d \n", counter, total_cycles);
            counter++;
        }
    }
    return 0;
}
