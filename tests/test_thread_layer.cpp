// The worker fan-out's platform layer: starting workers, joining exactly the ones that
// started (also when some slots never got a worker), and the fan-out every parallel part of
// the core runs on.
// The same expectations hold for the POSIX and the Windows thread API.
#include "threading.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

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
    int runs = 0;
    std::thread::id on;
};

void* record_worker(void* arg)
{
    Record* r = static_cast<Record*>(arg);
    r->runs++;
    r->on = std::this_thread::get_id();
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

TEST(FanOut, RunsEveryRecordOnceTheFirstOnTheCaller)
{
    for (int n : {1, 2, 5, kVidMaxWorkers, kVidMaxWorkers + 3}) {
        SCOPED_TRACE(n);
        std::vector<Record> records(static_cast<size_t>(n));
        std::string report;
        EXPECT_TRUE(VID_FAN_OUT(n, record_worker, records.data(), &report));
        EXPECT_EQ(report, "");
        for (int i = 0; i < n; i++)
            EXPECT_EQ(records[size_t(i)].runs, i < kVidMaxWorkers ? 1 : 0) << i;
        EXPECT_EQ(records[0].on, std::this_thread::get_id());
        if (n > 1) {
            EXPECT_NE(records[1].on, std::this_thread::get_id());
        }
    }
}
