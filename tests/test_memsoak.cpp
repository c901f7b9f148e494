// Tests of the memory soak: the run-length fill, the shares of the filler threads, the
// window offsets, complete soaks on a few megabytes (passing, and ending on a failed codec
// call or a filler thread that cannot start), and the memsoak program itself, which on a
// machine without 515 GB must end with the allocation report alone.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "threading.h"
#include "program_run.h"
#include "memsoak_run.h"

namespace {

const long long fixed_memory_size = 515396075400LL;
const int64_t fixed_test_area = 515396075400LL - 2147483647;

// Sends everything written to the standard error stream into a temporary file until
// finish() returns it.
class StderrCapture {
  public:
    StderrCapture()
    {
        fflush(stderr);
        file_ = tmpfile();
        if (!file_)
            return;
        saved_ = dup(2);
        if (saved_ < 0 || dup2(fileno(file_), 2) < 0) {
            fclose(file_);
            file_ = nullptr;
        }
    }
    ~StderrCapture() { finish(); }
    bool ok() const { return file_ != nullptr; }

    std::string finish()
    {
        std::string text;
        if (!file_)
            return text;
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        rewind(file_);
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, file_)) > 0)
            text.append(chunk, got);
        fclose(file_);
        file_ = nullptr;
        return text;
    }

  private:
    FILE* file_ = nullptr;
    int saved_ = -1;
};

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// True when text is exactly the allocation report: the system's text for ENOMEM, two
// blank lines, "memsoak_run.cpp:<line>", a blank line and the size line. Stores the line.
bool is_allocation_report(const std::string& text, long long size, int* line = nullptr)
{
    std::string head = std::string(strerror(ENOMEM)) + "\n\n\nmemsoak_run.cpp:";
    std::string tail =
        "\n\nUnable to allocate memory of size " + std::to_string(size) + " bytes.\n";
    if (text.size() <= head.size() + tail.size() || text.compare(0, head.size(), head) != 0 ||
        text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    std::string digits = text.substr(head.size(), text.size() - head.size() - tail.size());
    if (digits.empty() || digits.size() > 6 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    if (line)
        *line = std::stoi(digits);
    return true;
}

MemsoakSizes small_sizes(int64_t window, int64_t test_area, int passes, int cycles, int processors)
{
    MemsoakSizes z = memsoak_fixed_sizes();
    z.compressed_area_size = window;
    z.window_size = window;
    z.memory_size = window + test_area;
    z.passes = passes;
    z.cycles_per_pass = cycles;
    z.num_processors = processors;
    z.start_thread = nullptr;
    return z;
}

// Fills [start, end) of a buffer with one filler record on the calling thread.
void fill_share(std::vector<unsigned char>& buffer, int64_t start, int64_t end, unsigned seed)
{
    Random_values_datastruct record;
    record.buffer = buffer.data();
    record.start_offset = start;
    record.end_offset = end;
    srand(seed);
    set_random_values_thread(&record);
}

} // namespace

// ---------------------------------------------------------------------------------------
// The fill

TEST(MemsoakFill, WritesEveryByteOfItsShareAndNothingOutside)
{
    // The same seed on one thread gives the same bytes, so a byte left unwritten shows as
    // the difference between two fills over different backgrounds.
    const int64_t size = 1000003, start = 4099, end = size - 5003;
    std::vector<unsigned char> zeros(size, 0x00), ones(size, 0xFF);
    fill_share(zeros, start, end, 99);
    fill_share(ones, start, end, 99);
    for (int64_t i = 0; i < size; i++) {
        bool inside = i >= start && i < end;
        if (inside && zeros[i] != ones[i])
            FAIL() << "byte " << i << " of the share was not written";
        if (!inside && (zeros[i] != 0x00 || ones[i] != 0xFF))
            FAIL() << "byte " << i << " outside the share was written";
    }
}

TEST(MemsoakFill, LaysDownRunsOfOneToNineteenEqualBytesOfUniformValue)
{
    const int64_t size = 4 << 20;
    std::vector<unsigned char> area(size);
    fill_share(area, 0, size, 12345);

    // Maximal runs: two neighbouring runs of the same value (1 in 256) merge into one.
    std::vector<long> by_length(64, 0), by_value(256, 0);
    long runs = 0, longer = 0;
    int64_t i = 0;
    while (i < size) {
        int64_t j = i + 1;
        while (j < size && area[j] == area[i])
            j++;
        int64_t length = j - i;
        runs++;
        by_value[area[i]]++;
        if (length < 64)
            by_length[length]++;
        if (length > 19)
            longer++;
        i = j;
    }
    ASSERT_GT(runs, 300000);
    double mean = double(size) / double(runs);
    EXPECT_GT(mean, 9.9) << "runs average 10 bytes";
    EXPECT_LT(mean, 10.2);
    // Lengths 1 to 19 are equally likely; 20 and more only come from merged runs.
    for (int length = 1; length <= 19; length++) {
        SCOPED_TRACE(length);
        EXPECT_NEAR(double(by_length[length]) / double(runs), 1.0 / 19, 0.04 / 19);
    }
    EXPECT_LT(double(longer) / double(runs), 0.005);
    EXPECT_LT(double(by_length[20]) / double(runs), 0.002);
    for (int v = 0; v < 256; v++) {
        SCOPED_TRACE(v);
        EXPECT_NEAR(double(by_value[v]) / double(runs), 1.0 / 256, 0.2 / 256);
    }
}

TEST(MemsoakFill, SharesCoverTheAreaExactlyAndDisjointly)
{
    struct Case {
        int64_t area;
        int threads;
    };
    const Case cases[] = {
        {0, 1},
        {0, 4},
        {1, 1},
        {5, 8},
        {100, 4},
        {101, 4},
        {103, 7},
        {1000003, 2},
        {64, 64},
        {65, 64},
        {fixed_test_area, 1},
        {fixed_test_area, 3},
        {fixed_test_area, 48},
        {fixed_test_area, 96},
        {fixed_test_area, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("area " + std::to_string(c.area) + ", threads " + std::to_string(c.threads));
        std::vector<Random_values_datastruct> records(c.threads);
        unsigned char marker = 0;
        divide_into_fill_shares(records.data(), c.threads, &marker, c.area);
        int64_t share = (c.area + c.threads - 1) / c.threads;
        int64_t next = 0;
        for (int i = 0; i < c.threads; i++) {
            EXPECT_EQ(records[i].buffer, &marker);
            EXPECT_EQ(records[i].start_offset, next) << "share " << i;
            EXPECT_LE(records[i].start_offset, records[i].end_offset) << "share " << i;
            EXPECT_LE(records[i].end_offset - records[i].start_offset, share) << "share " << i;
            next = records[i].end_offset;
        }
        EXPECT_EQ(next, c.area);
        // Every share but those at the end holds the full s = ceil(area / threads) bytes.
        if (c.area >= c.threads) {
            EXPECT_EQ(records[0].end_offset, share);
        }
    }
}

// ---------------------------------------------------------------------------------------
// The window offsets

TEST(MemsoakOffsets, AreMultiplesOf120WithTheWindowInsideTheArea)
{
    struct Case {
        int64_t area, window;
    };
    const Case cases[] = {
        {int64_t(120) << 30, 1}, // half of the draws are refused
        {(int64_t(120) << 30) + 2147483647, 2147483647},
        {(int64_t(120) << 22) + 999, 1000}, // 1 in 512 draws fits
        {(int64_t(120) << 21) + 77, 77},    // the last place fits exactly
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("area " + std::to_string(c.area) + ", window " + std::to_string(c.window));
        int64_t highest = 0;
        for (int draw = 0; draw < 300; draw++) {
            int64_t offset = draw_window_offset(c.area, c.window);
            ASSERT_EQ(offset % 120, 0);
            ASSERT_GE(offset, 0);
            ASSERT_LE(offset + c.window, c.area);
            highest = std::max(highest, offset);
        }
        EXPECT_GT(highest, (c.area - c.window) / 2) << "offsets spread over the room";
    }
}

TEST(MemsoakOffsets, FixedSizesTakeEveryDrawOfTheUnseededLrand48)
{
    // Read the generator's state without disturbing it, then replay it with nrand48.
    unsigned short probe[3] = {1, 2, 3};
    unsigned short* current = seed48(probe);
    unsigned short state[3] = {current[0], current[1], current[2]};
    seed48(state);

    for (int draw = 0; draw < 2000; draw++) {
        int64_t expected = 120 * int64_t(nrand48(state));
        int64_t offset = draw_window_offset(fixed_test_area, 2147483647);
        ASSERT_EQ(offset, expected) << "draw " << draw;
        ASSERT_LE(offset + 2147483647, 259845521287LL);
    }
}

namespace {
// Sets the state of lrand48() so that its next value is r: the generator steps
// X' = (a X + c) mod 2^48 and returns X' >> 17, and a is odd, hence invertible.
void make_next_lrand48(long r)
{
    const uint64_t a = 0x5DEECE66DULL, c = 0xB, mask = (uint64_t(1) << 48) - 1;
    uint64_t inverse = a; // Newton's iteration doubles the correct low bits each step
    for (int i = 0; i < 6; i++)
        inverse *= 2 - a * inverse;
    uint64_t x = ((uint64_t(r) << 17) - c) * inverse & mask;
    unsigned short state[3] = {static_cast<unsigned short>(x), static_cast<unsigned short>(x >> 16),
                               static_cast<unsigned short>(x >> 32)};
    seed48(state);
}
} // namespace

TEST(MemsoakOffsets, AcceptAWindowEndingExactlyAtTheAreaEndAndRedrawPastIt)
{
    const int64_t window = 2147483647, k = int64_t(1) << 30;
    make_next_lrand48(12345);
    ASSERT_EQ(lrand48(), 12345) << "the state helper itself";

    make_next_lrand48(long(k));
    EXPECT_EQ(draw_window_offset(window + 120 * k, window), 120 * k);

    make_next_lrand48(long(k));
    int64_t offset = draw_window_offset(window + 120 * k - 1, window);
    EXPECT_NE(offset, 120 * k) << "a window one byte past the end must be drawn again";
    EXPECT_LE(offset + window, window + 120 * k - 1);
    EXPECT_EQ(offset % 120, 0);
}

// ---------------------------------------------------------------------------------------
// What the machine can provide

TEST(MemsoakCeiling, StaysWithinMemoryPlusSwapAndTheProcessLimits)
{
    struct sysinfo info;
    ASSERT_EQ(sysinfo(&info), 0);
    uint64_t unit = info.mem_unit ? info.mem_unit : 1;
    uint64_t machine = (uint64_t(info.totalram) + uint64_t(info.totalswap)) * unit;
    uint64_t ceiling = memory_ceiling();
    EXPECT_LE(ceiling, machine);
    EXPECT_GT(ceiling, 0u);

    // A lowered data-size limit lowers the ceiling. The limit is set in a child process: a
    // sanitizer runtime in this one could not map its shadow memory under it.
    const uint64_t limit = uint64_t(3) << 30;
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit data;
        if (getrlimit(RLIMIT_DATA, &data) != 0)
            _exit(2);
        if (data.rlim_max != RLIM_INFINITY && data.rlim_max < limit)
            _exit(3);
        data.rlim_cur = limit;
        if (setrlimit(RLIMIT_DATA, &data) != 0)
            _exit(4);
        _exit(memory_ceiling() <= limit ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: ceiling above RLIMIT_DATA; 2-4: limit not set";
}

// ---------------------------------------------------------------------------------------
// Complete soaks on a few megabytes

// Checks the output of a soak that ran all its cycles.
void expect_complete_soak_output(const std::string& text, const MemsoakSizes& z)
{
    std::vector<std::string> lines = split_lines(text);
    const int total = z.passes * z.cycles_per_pass;
    ASSERT_EQ(lines.size(), size_t(1 + 2 * total)) << text;
    EXPECT_EQ(lines[0],
              "Starting zlib based memory test using " + std::to_string(z.memory_size) + " bytes.");
    for (int cycle = 0; cycle < total; cycle++) {
        SCOPED_TRACE(cycle);
        const std::string& offset_line = lines[1 + 2 * cycle];
        long long offset = -1;
        char tail = 0;
        ASSERT_EQ(sscanf(offset_line.c_str(), "Offset %lld bytes%c", &offset, &tail), 2)
            << offset_line;
        EXPECT_EQ(tail, '.');
        EXPECT_EQ(offset_line, "Offset " + std::to_string(offset) + " bytes.");
        EXPECT_EQ(offset % 120, 0);
        EXPECT_LE(offset + z.window_size, z.memory_size - z.compressed_area_size);
        char counter[64];
        snprintf(counter, sizeof counter, "%6d of %6d ", cycle + 1, total);
        EXPECT_EQ(lines[2 + 2 * cycle], counter);
    }
}

TEST(MemsoakRun, SmallSoakRunsEveryCycleOnAnyNumberOfFillers)
{
    // A window of 614401 bytes makes the codec cut 8 blocks, the last one shorter; the test
    // area divides evenly by none of the filler counts; 11 fillers is more than the codec's
    // 8 workers.
    const int processor_counts[] = {1, 3, 11};
    for (int processors : processor_counts) {
        SCOPED_TRACE(processors);
        MemsoakSizes z = small_sizes(614401, 3 * 1048576 + 777, 3, 4, processors);
        StderrCapture capture;
        ASSERT_TRUE(capture.ok());
        int status = run_memsoak(z);
        std::string text = capture.finish();
        EXPECT_EQ(status, 0) << text;
        expect_complete_soak_output(text, z);
    }
}

TEST(MemsoakRun, FailedCompressionEndsTheRunWithCompressionError)
{
    // A compressed area of 4096 bytes cannot hold eight blocks of random runs.
    MemsoakSizes z = small_sizes(614401, 2 * 1048576, 2, 5, 2);
    z.compressed_area_size = 4096;
    z.memory_size = 4096 + 2 * 1048576;
    StderrCapture capture;
    ASSERT_TRUE(capture.ok());
    int status = run_memsoak(z);
    std::string text = capture.finish();
    EXPECT_EQ(status, 1);
    std::vector<std::string> lines = split_lines(text);
    ASSERT_GE(lines.size(), 3u) << text;
    EXPECT_EQ(lines[0],
              "Starting zlib based memory test using " + std::to_string(z.memory_size) + " bytes.");
    EXPECT_EQ(lines[1].rfind("Offset ", 0), 0u) << lines[1];
    EXPECT_EQ(lines.back(), "Compression error.");
    char first_counter[64];
    snprintf(first_counter, sizeof first_counter, "%6d of %6d ", 1, 10);
    for (const std::string& line : lines)
        EXPECT_NE(line, first_counter) << "no cycle may count as done";
    EXPECT_NE(text.find("compress_MT"), std::string::npos) << "the codec's own report comes first";
}

namespace {
int starts_attempted = 0;

// Starts the first two filler threads and refuses the third.
int start_two_then_fail(THREAD_HANDLE& handle, void* (*entry)(void*), void* arg)
{
    if (starts_attempted++ == 2) {
        handle = 0;
        return EAGAIN;
    }
    return start_processing_thread(handle, entry, arg);
}
} // namespace

TEST(MemsoakRun, FillerThreadThatCannotStartIsReportedWithStatus1)
{
    MemsoakSizes z = small_sizes(100000, 1048576, 2, 3, 4);
    z.start_thread = start_two_then_fail;
    starts_attempted = 0;
    StderrCapture capture;
    ASSERT_TRUE(capture.ok());
    int status = run_memsoak(z);
    std::string text = capture.finish();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(starts_attempted, 3) << "no thread is started after the one that failed";
    std::vector<std::string> lines = split_lines(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(lines[1],
              "ERROR *** Unable to create a new thread : " + std::string(strerror(EAGAIN)));
    EXPECT_EQ(lines[2].rfind(" threadid 2, memsoak_run.cpp:", 0), 0u) << lines[2];
}

TEST(MemsoakRun, RefusesSizesThatDescribeNoSoak)
{
    struct Case {
        const char* name;
        void (*apply)(MemsoakSizes&);
    };
    const Case cases[] = {
        {"window_beyond_test_area", [](MemsoakSizes& z) { z.window_size = z.memory_size; }},
        {"empty_window", [](MemsoakSizes& z) { z.window_size = 0; }},
        {"no_compressed_area", [](MemsoakSizes& z) { z.compressed_area_size = 0; }},
        {"window_of_4_GiB", [](MemsoakSizes& z) { z.window_size = int64_t(1) << 32; }},
        {"no_fillers", [](MemsoakSizes& z) { z.num_processors = 0; }},
        {"negative_passes", [](MemsoakSizes& z) { z.passes = -1; }},
        {"cycle_count_overflows", [](MemsoakSizes& z) { z.passes = z.cycles_per_pass = 70000; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemsoakSizes z = small_sizes(1000, 100000, 1, 1, 1);
        c.apply(z);
        StderrCapture capture;
        ASSERT_TRUE(capture.ok());
        int status = run_memsoak(z);
        std::string text = capture.finish();
        EXPECT_EQ(status, 1);
        EXPECT_NE(text.find("The sizes do not describe a soak."), std::string::npos) << text;
    }
}

TEST(MemsoakRun, MoreMemoryThanTheMachineHasGivesOnlyTheAllocationReport)
{
    uint64_t ceiling = memory_ceiling();
    if (ceiling >= uint64_t(INT64_MAX) / 2)
        GTEST_SKIP() << "the system reports no bound on memory";
    MemsoakSizes z = small_sizes(1048576, int64_t(ceiling), 1, 1, 1);
    StderrCapture capture;
    ASSERT_TRUE(capture.ok());
    int status = run_memsoak(z);
    std::string text = capture.finish();
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(is_allocation_report(text, z.memory_size)) << text;
}

// ---------------------------------------------------------------------------------------
// The program

namespace {
using ProgramResult = vidtest::Outcome;

// Runs memsoak (with arguments it must ignore) through the shell after the given shell
// commands; a run that has not ended after two minutes is stopped and counts as a failure.
ProgramResult run_program(const std::string& before)
{
    vidtest::TempDir dir;
    if (dir.path().empty() || getenv("VID_BIN_DIR") == nullptr)
        return ProgramResult();
    return vidtest::run_in(dir.path(), before + "exec timeout 120 '" +
                                           vidtest::bin_path("memsoak") + "' ignored args");
}
} // namespace

TEST(MemsoakProgram, EndsWithTheAllocationReportOnThisMachine)
{
    ASSERT_NE(getenv("VID_BIN_DIR"), nullptr);
    if (memory_ceiling() >= uint64_t(fixed_memory_size))
        GTEST_SKIP() << "this machine can hold the 515396075400 bytes under test";
    ProgramResult r = run_program("");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(is_allocation_report(r.err, fixed_memory_size)) << r.err;
}

TEST(MemsoakProgram, EndsWithTheAllocationReportUnderAnAddressSpaceLimit)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizer runtimes reserve terabytes of address space and cannot start "
                    "under ulimit -v";
#endif
    ASSERT_NE(getenv("VID_BIN_DIR"), nullptr);
    // 1 GiB leaves no room for the 2 GiB compressed area; 4 GiB takes it and refuses the
    // test area. Either way the report names the allocation that failed.
    ProgramResult small = run_program("ulimit -v 1048576 && ");
    ProgramResult large = run_program("ulimit -v 4194304 && ");
    int small_line = 0, large_line = 0;
    EXPECT_EQ(small.status, 1);
    EXPECT_EQ(small.out, "");
    EXPECT_TRUE(is_allocation_report(small.err, fixed_memory_size, &small_line)) << small.err;
    EXPECT_EQ(large.status, 1);
    EXPECT_EQ(large.out, "");
    EXPECT_TRUE(is_allocation_report(large.err, fixed_memory_size, &large_line)) << large.err;
    EXPECT_LT(small_line, large_line) << "the compressed area is allocated first";
}
