// The worker fan-out's platform layer: starting workers, joining exactly the ones that
// started (also when some slots never got a worker), and the cleanup template's verdict.
// The same expectations hold for the POSIX and the Windows thread API.
#include "compress_uncompress_MT.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

struct Slot {
    int index = -1;
    int seen = 0; // written by the worker just before it returns
};

// Sleeps first, so a join that does not really wait finds the slot still unwritten.
void* slow_worker(void* arg)
{
    Slot* slot = static_cast<Slot*>(arg);
    std::this_thread::sleep_for(std::chrono::milliseconds(40 + 5 * slot->index));
    slot->seen = slot->index + 100;
    return nullptr;
}

struct Record {
    int work_done = 0;
    int* init_counter = nullptr;
    void init()
    {
        work_done = 0;
        if (init_counter)
            ++*init_counter;
    }
};

void* record_worker(void* arg)
{
    Record* r = static_cast<Record*>(arg);
    r->work_done = 1;
    return nullptr;
}

} // namespace

TEST(FanOutLayer, ReportsAtLeastOneProcessor)
{
    EXPECT_GE(get_num_processing_cores(), 1);
}

TEST(FanOutLayer, JoinWaitsForEveryStartedWorkerAndPassesEachItsOwnArgument)
{
    const int n = 8;
    Slot slots[n];
    THREAD_HANDLE handles[n];
    for (int i = 0; i < n; i++) {
        slots[i].index = i;
        ASSERT_EQ(start_processing_thread(handles[i], slow_worker, &slots[i]), 0) << i;
    }
    join_processing_threads(n, handles);
    for (int i = 0; i < n; i++)
        EXPECT_EQ(slots[i].seen, i + 100) << "worker " << i;
}

// A slot whose worker could not be started holds a null handle; the join must skip it and
// still wait for all the others (a wait over a null handle fails at once on Windows).
TEST(FanOutLayer, JoinSkipsSlotsWithoutAWorkerAndStillWaitsForTheRest)
{
    const int n = 6;
    Slot slots[n];
    THREAD_HANDLE handles[n];
    for (int i = 0; i < n; i++) {
        slots[i].index = i;
        if (i == 0 || i == 3) {
            handles[i] = 0;
            continue;
        }
        ASSERT_EQ(start_processing_thread(handles[i], slow_worker, &slots[i]), 0) << i;
    }
    join_processing_threads(n, handles);
    for (int i = 0; i < n; i++)
        EXPECT_EQ(slots[i].seen, (i == 0 || i == 3) ? 0 : i + 100) << "worker " << i;
}

TEST(FanOutLayer, JoinOfNoStartedWorkerReturns)
{
    // Null handles mark workers that never started: nothing is waited for or released.
    THREAD_HANDLE handles[3] = {0, 0, 0};
    join_processing_threads(3, handles);
    join_processing_threads(0, handles);
    for (THREAD_HANDLE h : handles)
        EXPECT_EQ(h, THREAD_HANDLE(0));
}

TEST(FanOutCleanup, VerdictIsOneOnlyWhenEveryRecordFinished)
{
    for (int skipped = -1; skipped < 4; skipped++) {
        SCOPED_TRACE(skipped);
        const int n = 4;
        int init_counter = 0;
        THREAD_HANDLE* handles = new THREAD_HANDLE[n];
        Record* records = new Record[n];
        for (int i = 0; i < n; i++) {
            records[i].init_counter = &init_counter;
            if (i == skipped)
                handles[i] = 0; // as if its start had failed: work_done stays 0
            else
                ASSERT_EQ(start_processing_thread(handles[i], record_worker, &records[i]), 0);
        }
        int verdict = wait_until_processing_threads_are_done_then_cleanup(n, handles, records);
        EXPECT_EQ(verdict, skipped < 0 ? 1 : 0);
        EXPECT_EQ(handles, nullptr);
        EXPECT_EQ(records, nullptr);
        EXPECT_EQ(init_counter, n);
    }
}
