// Rectangle helpers, threads, the mutex and the processor count.
#ifdef __linux__
#include <sched.h>
#endif

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/rect.h"
#include "platform/threads.h"

namespace {

std::vector<int> V(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

// ------------------------------------------------------------------ rectangles

TEST(RectHelpers, SetEmptyIntersectOffsetEqualPoint) {
    RECT rect, out;
    EXPECT_TRUE(SetRect(&rect, 1, 2, 3, 4));
    EXPECT_EQ(V(rect), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_FALSE(IsRectEmpty(&rect));
    EXPECT_TRUE(SetRectEmpty(&rect));
    EXPECT_EQ(V(rect), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_FALSE(SetRect(nullptr, 0, 0, 1, 1));
    // Empty when right or bottom is not beyond left or top; one pixel is not.
    for (RECT r : {RECT{0, 0, 0, 0}, RECT{5, 0, 5, 10}, RECT{5, 0, 4, 10}, RECT{0, 7, 10, 7}})
        EXPECT_TRUE(IsRectEmpty(&r)) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    RECT single{5, 7, 6, 8};
    EXPECT_FALSE(IsRectEmpty(&single));
    EXPECT_TRUE(IsRectEmpty(nullptr));

    RECT a{0, 0, 10, 10}, b{5, -3, 20, 8}, touching{10, 0, 20, 10}, empty{3, 3, 3, 6};
    EXPECT_TRUE(IntersectRect(&out, &a, &b));
    EXPECT_EQ(V(out), (std::vector<int>{5, 0, 10, 8}));
    out = {1, 1, 2, 2}; // touching edges do not overlap (right is exclusive)
    EXPECT_FALSE(IntersectRect(&out, &a, &touching));
    EXPECT_EQ(V(out), (std::vector<int>{0, 0, 0, 0}));
    out = {1, 1, 2, 2}; // an empty source gives an empty result even inside the other
    EXPECT_FALSE(IntersectRect(&out, &a, &empty));
    EXPECT_EQ(V(out), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_FALSE(IntersectRect(nullptr, &a, &b));
    EXPECT_TRUE(IntersectRect(&a, &a, &b)); // the destination may be a source
    EXPECT_EQ(V(a), (std::vector<int>{5, 0, 10, 8}));

    rect = {1, 2, 3, 4};
    EXPECT_TRUE(OffsetRect(&rect, -1, 10));
    EXPECT_EQ(V(rect), (std::vector<int>{0, 12, 2, 14}));
    EXPECT_FALSE(OffsetRect(nullptr, 1, 1));
    RECT same{0, 12, 2, 14}, other{0, 12, 2, 15};
    EXPECT_TRUE(EqualRect(&rect, &same));
    EXPECT_FALSE(EqualRect(&rect, &other));
    EXPECT_FALSE(EqualRect(&rect, nullptr));

    RECT box{10, 20, 30, 40};
    EXPECT_TRUE(PtInRect(&box, POINT{10, 20}));
    EXPECT_TRUE(PtInRect(&box, POINT{29, 39}));
    for (POINT p : {POINT{30, 25}, POINT{15, 40}, POINT{9, 25}})
        EXPECT_FALSE(PtInRect(&box, p)) << p.x << "," << p.y;
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
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(handles[i] = StartThread(WaitAtGate, &gates[i]), nullptr);
    gates[2].open.store(1);
    EXPECT_EQ(WaitForAnyThread(handles, 3), 2);
    EXPECT_EQ(gates[2].done.load(), 1);
    EXPECT_EQ(gates[0].done.load(), 0);

    gates[0].open.store(1);
    gates[1].open.store(1);
    EXPECT_EQ(WaitForAllThreads(handles, 3), kWaitDone);
    EXPECT_EQ(gates[0].done.load() + gates[1].done.load(), 2);
    EXPECT_EQ(TerminateThreadHandle(handles[0], 0), 1); // ended: "terminated" everywhere
    for (ThreadHandle handle : handles)
        EXPECT_EQ(CloseThreadHandle(handle), 1);
}

TEST(Threads, BadSetsFailAndHandlesCloseWhileRunning) {
    ThreadHandle none[1] = {nullptr};
    EXPECT_EQ(WaitForAnyThread(none, 1), -1);
    EXPECT_EQ(WaitForAnyThread(none, 0), -1);
    EXPECT_EQ(WaitForAllThreads(none, 1), kWaitFailed);
    EXPECT_EQ(WaitForAllThreads(none, 0), kWaitDone);
    EXPECT_EQ(StartThread(nullptr, nullptr), nullptr);
    EXPECT_EQ(CloseThreadHandle(nullptr), 0);

    Gate gate, closed;
    ThreadHandle handle = StartThread(WaitAtGate, &gate);
    ASSERT_NE(handle, nullptr);
#ifndef _WIN32
    EXPECT_EQ(TerminateThreadHandle(handle, 0), 0); // a running thread cannot be stopped here
#endif
    gate.open.store(1);
    EXPECT_EQ(WaitForAllThreads(&handle, 1), kWaitDone);
    EXPECT_EQ(gate.done.load(), 1);
    EXPECT_EQ(CloseThreadHandle(handle), 1);

    handle = StartThread(WaitAtGate, &closed);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(CloseThreadHandle(handle), 1); // the thread runs on
    closed.open.store(1);
    while (!closed.done.load())
        SleepMilliseconds(1);
}

// ----------------------------------------------------------------------- mutex

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

// Runs `procedure` on its own thread to the end; the task's result.
int RunTask(ThreadProcedure procedure, MutexTask& task) {
    ThreadHandle thread = StartThread(procedure, &task);
    EXPECT_NE(thread, nullptr);
    EXPECT_EQ(WaitForAllThreads(&thread, 1), kWaitDone);
    CloseThreadHandle(thread);
    return task.result.load();
}

TEST(Mutex, OwnershipReacquisitionAndAbandonment) {
    MutexHandle mutex = CreateUnnamedMutex();
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAcquired);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAcquired); // the owner may acquire again
    MutexTask foreign;
    foreign.mutex = mutex;
    EXPECT_EQ(RunTask(ReleaseForeign, foreign), 0); // only the owner releases
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(ReleaseMutexHandle(mutex), 0); // no longer owned

    MutexTask leaver;
    leaver.mutex = mutex;
    EXPECT_EQ(RunTask(AcquireAndEnd, leaver), (int)kMutexAcquired);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAbandoned); // acquired all the same
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAcquired); // normal again
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(CloseMutexHandle(mutex), 1);
    EXPECT_EQ(WaitForMutex(nullptr), kMutexFailed);
    EXPECT_EQ(ReleaseMutexHandle(nullptr), 0);
}

TEST(Mutex, ExcludesOtherThreads) {
    MutexHandle mutex = CreateUnnamedMutex();
    long counter = 0;
    MutexTask tasks[4];
    ThreadHandle threads[4];
    for (int i = 0; i < 4; ++i) {
        tasks[i].mutex = mutex;
        tasks[i].counter = &counter;
        ASSERT_NE(threads[i] = StartThread(CountUnderMutex, &tasks[i]), nullptr);
    }
    ASSERT_EQ(WaitForAllThreads(threads, 4), kWaitDone);
    for (ThreadHandle thread : threads)
        CloseThreadHandle(thread);
    EXPECT_EQ(counter, 4 * 20000);
    CloseMutexHandle(mutex);
}

// ------------------------------------------------------------- processor count

TEST(ProcessorCount, FollowsTheAffinityNotTheEnvironment) {
    const uint32_t system = ProcessorCount();
    EXPECT_GE(system, 1u);
    // The shipped plug-in never takes its thread count from the environment.
    setenv("ORVO_THREADS", "7", 1);
    EXPECT_EQ(ProcessorCount(), system);
    unsetenv("ORVO_THREADS");
#ifdef __linux__
    // Pinned to one processor, the process has one.
    cpu_set_t saved, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &saved)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(ProcessorCount(), 1u);
    ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
    EXPECT_EQ(ProcessorCount(), system);
#endif
}

} // namespace
