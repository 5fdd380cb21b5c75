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

TEST(RectHelpers, EmptyIntersectOffsetEqualAndPoint) {
    // Right and bottom are exclusive: empty unless beyond left and top.
    const struct {
        RECT r;
        BOOL empty;
    } empties[] = {{{0, 0, 0, 0}, TRUE},  {{5, 0, 5, 10}, TRUE}, {{5, 0, 4, 10}, TRUE},
                   {{0, 7, 10, 7}, TRUE}, {{0, 7, 10, 6}, TRUE}, {{5, 7, 6, 8}, FALSE}};
    for (const auto& c : empties)
        EXPECT_EQ(IsRectEmpty(&c.r), c.empty)
            << V(c.r)[0] << "," << V(c.r)[1] << "," << V(c.r)[2] << "," << V(c.r)[3];

    const struct {
        RECT a, b;
        BOOL overlap;
        RECT out; // (0, 0, 0, 0) without overlap
    } intersections[] = {
        {{0, 0, 10, 10}, {5, -3, 20, 8}, TRUE, {5, 0, 10, 8}},
        {{5, -3, 20, 8}, {0, 0, 10, 10}, TRUE, {5, 0, 10, 8}},
        {{2, 3, 4, 5}, {0, 0, 10, 10}, TRUE, {2, 3, 4, 5}},
        {{0, 0, 10, 10}, {10, 0, 20, 10}, FALSE, {}}, // touching edges do not overlap
        {{10, 0, 20, 10}, {0, 0, 10, 10}, FALSE, {}},
        {{0, 0, 10, 10}, {0, 10, 10, 20}, FALSE, {}},
        {{0, 10, 10, 20}, {0, 0, 10, 10}, FALSE, {}},
        {{0, 0, 10, 10}, {3, 3, 3, 6}, FALSE, {}}, // an empty source, even inside
        {{3, 3, 3, 6}, {0, 0, 10, 10}, FALSE, {}}};
    for (const auto& c : intersections) {
        RECT out = {1, 1, 2, 2};
        EXPECT_EQ(IntersectRect(&out, &c.a, &c.b), c.overlap);
        EXPECT_EQ(V(out), V(c.out))
            << V(c.a)[0] << "," << V(c.a)[1] << " / " << V(c.b)[0] << "," << V(c.b)[1];
    }
    RECT a{0, 0, 10, 10}, b{5, -3, 20, 8};
    EXPECT_TRUE(IntersectRect(&a, &a, &b)); // the destination may be a source
    EXPECT_EQ(V(a), (std::vector<int>{5, 0, 10, 8}));

    RECT rect;
    EXPECT_TRUE(SetRect(&rect, 1, 2, 3, 4));
    EXPECT_EQ(V(rect), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_TRUE(OffsetRect(&rect, -1, 10));
    EXPECT_EQ(V(rect), (std::vector<int>{0, 12, 2, 14}));
    RECT same{0, 12, 2, 14};
    EXPECT_TRUE(EqualRect(&rect, &same));
    for (RECT other :
         {RECT{1, 12, 2, 14}, RECT{0, 13, 2, 14}, RECT{0, 12, 3, 14}, RECT{0, 12, 2, 15}})
        EXPECT_FALSE(EqualRect(&rect, &other)) << V(other)[0] << "," << V(other)[3];
    EXPECT_TRUE(SetRectEmpty(&rect));
    EXPECT_EQ(V(rect), (std::vector<int>{0, 0, 0, 0}));

    RECT box{10, 20, 30, 40};
    const struct {
        POINT p;
        BOOL inside;
    } points[] = {{{10, 20}, TRUE},  {{29, 39}, TRUE}, {{30, 25}, FALSE},
                  {{15, 40}, FALSE}, {{9, 25}, FALSE}, {{15, 19}, FALSE}};
    for (const auto& c : points)
        EXPECT_EQ(PtInRect(&box, c.p), c.inside) << c.p.x << "," << c.p.y;

    // A null rectangle makes every helper fail (and counts as empty).
    EXPECT_EQ(std::vector<BOOL>({SetRect(nullptr, 0, 0, 1, 1), SetRectEmpty(nullptr),
                                 IsRectEmpty(nullptr), IntersectRect(nullptr, &a, &b),
                                 IntersectRect(&rect, nullptr, &b), OffsetRect(nullptr, 1, 1),
                                 EqualRect(&rect, nullptr), PtInRect(nullptr, POINT{15, 25})}),
              std::vector<BOOL>({FALSE, FALSE, TRUE, FALSE, FALSE, FALSE, FALSE, FALSE}));
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
    std::vector<ThreadHandle> tooMany(kMaxWaitHandles + 1, nullptr);
    EXPECT_EQ(WaitForAnyThread(tooMany.data(), kMaxWaitHandles + 1), -1);
    EXPECT_EQ(WaitForAllThreads(tooMany.data(), kMaxWaitHandles + 1), kWaitFailed);
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
