// Rectangle helpers, threads, the mutex and the processor count.
#include <atomic>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/rect.h"
#include "platform/threads.h"

namespace {

RECT Rect(int l, int t, int r, int b) {
    RECT rect;
    SetRect(&rect, l, t, r, b);
    return rect;
}

void ExpectRect(const RECT& rect, int l, int t, int r, int b) {
    EXPECT_EQ(rect.left, l);
    EXPECT_EQ(rect.top, t);
    EXPECT_EQ(rect.right, r);
    EXPECT_EQ(rect.bottom, b);
}

// ------------------------------------------------------------------ rectangles

TEST(RectHelpers, SetAndEmpty) {
    RECT rect = Rect(1, 2, 3, 4);
    ExpectRect(rect, 1, 2, 3, 4);
    EXPECT_FALSE(IsRectEmpty(&rect));
    EXPECT_TRUE(SetRectEmpty(&rect));
    ExpectRect(rect, 0, 0, 0, 0);
    EXPECT_TRUE(IsRectEmpty(&rect));
    EXPECT_FALSE(SetRect(nullptr, 0, 0, 1, 1));
    EXPECT_TRUE(IsRectEmpty(nullptr));
}

TEST(RectHelpers, EmptyWhenRightOrBottomNotBeyond) {
    RECT oneColumn = Rect(5, 0, 5, 10); // right == left
    RECT flipped = Rect(5, 0, 4, 10);
    RECT noRows = Rect(0, 7, 10, 7);
    RECT single = Rect(5, 7, 6, 8); // one pixel: not empty
    EXPECT_TRUE(IsRectEmpty(&oneColumn));
    EXPECT_TRUE(IsRectEmpty(&flipped));
    EXPECT_TRUE(IsRectEmpty(&noRows));
    EXPECT_FALSE(IsRectEmpty(&single));
}

TEST(RectHelpers, Intersect) {
    RECT a = Rect(0, 0, 10, 10);
    RECT b = Rect(5, -3, 20, 8);
    RECT out;
    EXPECT_TRUE(IntersectRect(&out, &a, &b));
    ExpectRect(out, 5, 0, 10, 8);

    // Touching edges do not overlap (right is exclusive).
    RECT touching = Rect(10, 0, 20, 10);
    out = Rect(1, 1, 2, 2);
    EXPECT_FALSE(IntersectRect(&out, &a, &touching));
    ExpectRect(out, 0, 0, 0, 0);

    // An empty source gives an empty result even inside the other.
    RECT empty = Rect(3, 3, 3, 6);
    out = Rect(1, 1, 2, 2);
    EXPECT_FALSE(IntersectRect(&out, &a, &empty));
    ExpectRect(out, 0, 0, 0, 0);

    // The destination may be a source.
    EXPECT_TRUE(IntersectRect(&a, &a, &b));
    ExpectRect(a, 5, 0, 10, 8);
    EXPECT_FALSE(IntersectRect(nullptr, &a, &b));
}

TEST(RectHelpers, OffsetEqualPoint) {
    RECT rect = Rect(1, 2, 3, 4);
    EXPECT_TRUE(OffsetRect(&rect, -1, 10));
    ExpectRect(rect, 0, 12, 2, 14);
    EXPECT_FALSE(OffsetRect(nullptr, 1, 1));

    RECT same = Rect(0, 12, 2, 14);
    RECT other = Rect(0, 12, 2, 15);
    EXPECT_TRUE(EqualRect(&rect, &same));
    EXPECT_FALSE(EqualRect(&rect, &other));
    EXPECT_FALSE(EqualRect(&rect, nullptr));

    RECT box = Rect(10, 20, 30, 40);
    EXPECT_TRUE(PtInRect(&box, POINT{10, 20}));
    EXPECT_TRUE(PtInRect(&box, POINT{29, 39}));
    EXPECT_FALSE(PtInRect(&box, POINT{30, 25}));
    EXPECT_FALSE(PtInRect(&box, POINT{15, 40}));
    EXPECT_FALSE(PtInRect(&box, POINT{9, 25}));
    EXPECT_FALSE(PtInRect(nullptr, POINT{15, 25}));
}

// --------------------------------------------------------------------- threads

struct Gate {
    std::atomic<int> open{0};
    std::atomic<int> done{0};
};

uint32_t WaitAtGate(void* argument) {
    Gate* gate = static_cast<Gate*>(argument);
    while (!gate->open.load())
        SleepMilliseconds(0);
    gate->done.store(1);
    return 7;
}

TEST(Threads, WaitForAnyNamesTheThreadThatEnded) {
    Gate gates[3];
    ThreadHandle handles[3];
    for (int i = 0; i < 3; ++i) {
        handles[i] = StartThread(WaitAtGate, &gates[i]);
        ASSERT_NE(handles[i], nullptr);
    }
    gates[2].open.store(1);
    EXPECT_EQ(WaitForAnyThread(handles, 3), 2);
    EXPECT_EQ(gates[2].done.load(), 1);
    EXPECT_EQ(gates[0].done.load(), 0);

    gates[0].open.store(1);
    gates[1].open.store(1);
    EXPECT_EQ(WaitForAllThreads(handles, 3), kWaitDone);
    EXPECT_EQ(gates[0].done.load() + gates[1].done.load(), 2);
    // A thread that has ended can be "terminated" everywhere.
    EXPECT_EQ(TerminateThreadHandle(handles[0], 0), 1);
    for (ThreadHandle handle : handles)
        EXPECT_EQ(CloseThreadHandle(handle), 1);
}

TEST(Threads, BadSetsFail) {
    ThreadHandle none[1] = {nullptr};
    EXPECT_EQ(WaitForAnyThread(none, 1), -1);
    EXPECT_EQ(WaitForAnyThread(none, 0), -1);
    EXPECT_EQ(WaitForAllThreads(none, 1), kWaitFailed);
    EXPECT_EQ(WaitForAllThreads(none, 0), kWaitDone);
    EXPECT_EQ(StartThread(nullptr, nullptr), nullptr);
    EXPECT_EQ(CloseThreadHandle(nullptr), 0);
}

#ifndef _WIN32
TEST(Threads, RunningThreadCannotBeTerminatedHere) {
    Gate gate;
    ThreadHandle handle = StartThread(WaitAtGate, &gate);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(TerminateThreadHandle(handle, 0), 0);
    gate.open.store(1);
    EXPECT_EQ(WaitForAllThreads(&handle, 1), kWaitDone);
    EXPECT_EQ(gate.done.load(), 1);
    EXPECT_EQ(CloseThreadHandle(handle), 1);
}
#endif

TEST(Threads, HandleClosedWhileThreadRuns) {
    Gate gate;
    ThreadHandle handle = StartThread(WaitAtGate, &gate);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(CloseThreadHandle(handle), 1);
    gate.open.store(1);
    while (!gate.done.load())
        SleepMilliseconds(1);
}

// ----------------------------------------------------------------------- mutex

TEST(Mutex, OwnerMayAcquireAgainAndReleasesEachTime) {
    MutexHandle mutex = CreateUnnamedMutex();
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAcquired);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAcquired);
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(ReleaseMutexHandle(mutex), 0); // no longer owned
    EXPECT_EQ(CloseMutexHandle(mutex), 1);
    EXPECT_EQ(WaitForMutex(nullptr), kMutexFailed);
    EXPECT_EQ(ReleaseMutexHandle(nullptr), 0);
}

struct MutexTask {
    MutexHandle mutex;
    long* counter;
    std::atomic<int> result{-1};
};

uint32_t ReleaseForeign(void* argument) {
    MutexTask* task = static_cast<MutexTask*>(argument);
    task->result.store(ReleaseMutexHandle(task->mutex));
    return 0;
}

uint32_t AcquireAndEnd(void* argument) {
    MutexTask* task = static_cast<MutexTask*>(argument);
    task->result.store((int)WaitForMutex(task->mutex));
    return 0; // ends holding the mutex
}

uint32_t CountUnderMutex(void* argument) {
    MutexTask* task = static_cast<MutexTask*>(argument);
    for (int i = 0; i < 20000; ++i) {
        if (WaitForMutex(task->mutex) != kMutexAcquired) return 1;
        ++*task->counter;
        ReleaseMutexHandle(task->mutex);
    }
    return 0;
}

TEST(Mutex, OnlyTheOwnerReleases) {
    MutexHandle mutex = CreateUnnamedMutex();
    ASSERT_EQ(WaitForMutex(mutex), kMutexAcquired);
    MutexTask task;
    task.mutex = mutex;
    ThreadHandle thread = StartThread(ReleaseForeign, &task);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForAllThreads(&thread, 1), kWaitDone);
    CloseThreadHandle(thread);
    EXPECT_EQ(task.result.load(), 0);
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    CloseMutexHandle(mutex);
}

TEST(Mutex, OwnerEndingWithoutReleaseAbandonsIt) {
    MutexHandle mutex = CreateUnnamedMutex();
    MutexTask task;
    task.mutex = mutex;
    ThreadHandle thread = StartThread(AcquireAndEnd, &task);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForAllThreads(&thread, 1), kWaitDone);
    CloseThreadHandle(thread);
    EXPECT_EQ(task.result.load(), (int)kMutexAcquired);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAbandoned); // acquired all the same
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAcquired); // normal again
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    CloseMutexHandle(mutex);
}

TEST(Mutex, ExcludesOtherThreads) {
    MutexHandle mutex = CreateUnnamedMutex();
    long counter = 0;
    MutexTask tasks[4];
    ThreadHandle threads[4];
    for (int i = 0; i < 4; ++i) {
        tasks[i].mutex = mutex;
        tasks[i].counter = &counter;
        threads[i] = StartThread(CountUnderMutex, &tasks[i]);
        ASSERT_NE(threads[i], nullptr);
    }
    ASSERT_EQ(WaitForAllThreads(threads, 4), kWaitDone);
    for (ThreadHandle thread : threads)
        CloseThreadHandle(thread);
    EXPECT_EQ(counter, 4 * 20000);
    CloseMutexHandle(mutex);
}

// ------------------------------------------------------------- processor count

class ProcessorCountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("ORVO_THREADS");
        hadValue = old != nullptr;
        if (old) saved = old;
    }
    void TearDown() override {
        if (hadValue)
            setenv("ORVO_THREADS", saved.c_str(), 1);
        else
            unsetenv("ORVO_THREADS");
    }
    bool hadValue = false;
    std::string saved;
};

TEST_F(ProcessorCountTest, EnvironmentOverride) {
    unsetenv("ORVO_THREADS");
    uint32_t system = ProcessorCount();
    EXPECT_GE(system, 1u);
    setenv("ORVO_THREADS", "3", 1);
    EXPECT_EQ(ProcessorCount(), 3u);
    setenv("ORVO_THREADS", "65535", 1);
    EXPECT_EQ(ProcessorCount(), 65535u);
    for (const char* bad : {"0", "-2", "abc", "4x", "", "65536"}) {
        setenv("ORVO_THREADS", bad, 1);
        EXPECT_EQ(ProcessorCount(), system) << "ORVO_THREADS=" << bad;
    }
}

} // namespace
