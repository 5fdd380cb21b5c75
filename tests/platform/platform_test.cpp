// Rectangle helpers, threads, the mutex and the processor count.
#ifdef __linux__
#include <sched.h>
#endif

#include <atomic>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "platform/rect.h"
#include "platform/threads.h"

namespace {

std::vector<int> V(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

TEST(RectHelpers, EmptyIntersectOffsetEqualAndPoint) {
    // Right and bottom are exclusive: empty unless beyond left and top.
    for (RECT r : {RECT{0, 0, 0, 0}, RECT{5, 0, 5, 10}, RECT{5, 0, 4, 10}, RECT{0, 7, 10, 7},
                   RECT{0, 7, 10, 6}})
        EXPECT_TRUE(IsRectEmpty(&r)) << V(r)[0] << "," << V(r)[2];
    RECT one{5, 7, 6, 8};
    EXPECT_FALSE(IsRectEmpty(&one));

    const struct {
        RECT a, b;
        BOOL overlap;
        RECT out; // (0, 0, 0, 0) without overlap
    } intersections[] = {
        {{0, 0, 10, 10}, {5, -3, 20, 8}, TRUE, {5, 0, 10, 8}},
        {{5, -3, 20, 8}, {0, 0, 10, 10}, TRUE, {5, 0, 10, 8}},
        {{0, 0, 10, 10}, {10, 0, 20, 10}, FALSE, {}}, // touching edges do not overlap
        {{0, 10, 10, 20}, {0, 0, 10, 10}, FALSE, {}},
        {{0, 0, 10, 10}, {3, 3, 3, 6}, FALSE, {}}, // an empty source, even inside
    };
    for (const auto& c : intersections) {
        RECT out = {1, 1, 2, 2};
        EXPECT_EQ(IntersectRect(&out, &c.a, &c.b), c.overlap);
        EXPECT_EQ(V(out), V(c.out)) << V(c.a)[0] << "," << V(c.a)[1] << " / " << V(c.b)[0];
    }

    RECT rect;
    EXPECT_TRUE(SetRect(&rect, 1, 2, 3, 4));
    EXPECT_TRUE(OffsetRect(&rect, -1, 10));
    EXPECT_EQ(V(rect), (std::vector<int>{0, 12, 2, 14}));
    RECT same{0, 12, 2, 14};
    EXPECT_TRUE(EqualRect(&rect, &same));
    for (RECT other :
         {RECT{1, 12, 2, 14}, RECT{0, 13, 2, 14}, RECT{0, 12, 3, 14}, RECT{0, 12, 2, 15}})
        EXPECT_FALSE(EqualRect(&rect, &other)) << V(other)[0] << "," << V(other)[3];
    RECT box{10, 20, 30, 40};
    std::vector<BOOL> inside;
    for (POINT p :
         {POINT{10, 20}, POINT{29, 39}, POINT{30, 25}, POINT{15, 40}, POINT{9, 25}, POINT{15, 19}})
        inside.push_back(PtInRect(&box, p));
    EXPECT_EQ(inside, (std::vector<BOOL>{TRUE, TRUE, FALSE, FALSE, FALSE, FALSE}));
    EXPECT_TRUE(SetRectEmpty(&rect));
    EXPECT_EQ(V(rect), (std::vector<int>{0, 0, 0, 0}));

    // A null rectangle makes every helper fail (and counts as empty).
    EXPECT_EQ(std::vector<BOOL>({SetRect(nullptr, 0, 0, 1, 1), SetRectEmpty(nullptr),
                                 IsRectEmpty(nullptr), IntersectRect(nullptr, &box, &same),
                                 OffsetRect(nullptr, 1, 1), EqualRect(&rect, nullptr),
                                 PtInRect(nullptr, POINT{15, 25})}),
              std::vector<BOOL>({FALSE, FALSE, TRUE, FALSE, FALSE, FALSE, FALSE}));
}

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

TEST(Threads, WaitForAnyNamesTheThreadThatEndedAndBadSetsFail) {
    Gate gates[3];
    ThreadHandle handles[3];
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(handles[i] = StartThread(WaitAtGate, &gates[i]), nullptr);
#ifndef _WIN32
    EXPECT_EQ(TerminateThreadHandle(handles[0], 0), 0); // a running thread cannot be stopped here
#endif
    gates[2].open.store(1);
    EXPECT_EQ(WaitForAnyThread(handles, 3), 2);
    EXPECT_EQ(gates[0].done.load(), 0);
    gates[0].open.store(1);
    gates[1].open.store(1);
    EXPECT_EQ(WaitForAllThreads(handles, 3), kWaitDone);
    EXPECT_EQ(gates[0].done.load() + gates[1].done.load(), 2);
    EXPECT_EQ(TerminateThreadHandle(handles[0], 0), 1); // ended: "terminated" everywhere
    for (ThreadHandle handle : handles)
        EXPECT_EQ(CloseThreadHandle(handle), 1);

    ThreadHandle none[1] = {nullptr};
    std::vector<ThreadHandle> tooMany(kMaxWaitHandles + 1, nullptr);
    EXPECT_EQ((std::vector<long long>{WaitForAnyThread(none, 1), WaitForAnyThread(none, 0),
                                      WaitForAllThreads(none, 1), WaitForAllThreads(none, 0),
                                      WaitForAnyThread(tooMany.data(), kMaxWaitHandles + 1),
                                      WaitForAllThreads(tooMany.data(), kMaxWaitHandles + 1),
                                      CloseThreadHandle(nullptr)}),
              (std::vector<long long>{-1, -1, kWaitFailed, kWaitDone, -1, kWaitFailed, 0}));
    EXPECT_EQ(StartThread(nullptr, nullptr), nullptr);
}

struct MutexTask {
    MutexHandle mutex;
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

// Runs each task on its own thread to the end.
void RunTasks(ThreadProcedure procedure, MutexTask* tasks, int count) {
    std::vector<ThreadHandle> threads;
    for (int i = 0; i < count; ++i)
        threads.push_back(StartThread(procedure, &tasks[i]));
    ASSERT_EQ(WaitForAllThreads(threads.data(), uint32_t(count)), kWaitDone);
    for (ThreadHandle thread : threads)
        CloseThreadHandle(thread);
}

TEST(Mutex, OwnershipAndAbandonment) {
    MutexHandle mutex = CreateUnnamedMutex();
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAcquired);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAcquired); // the owner may acquire again
    MutexTask foreign;
    foreign.mutex = mutex;
    RunTasks(ReleaseForeign, &foreign, 1);
    EXPECT_EQ(foreign.result.load(), 0); // only the owner releases
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(ReleaseMutexHandle(mutex), 0); // no longer owned

    MutexTask leaver;
    leaver.mutex = mutex;
    RunTasks(AcquireAndEnd, &leaver, 1);
    EXPECT_EQ(leaver.result.load(), (int)kMutexAcquired);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAbandoned); // acquired all the same
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(WaitForMutex(mutex), kMutexAcquired); // normal again
    EXPECT_EQ(ReleaseMutexHandle(mutex), 1);
    EXPECT_EQ(WaitForMutex(nullptr), kMutexFailed);
    EXPECT_EQ(ReleaseMutexHandle(nullptr), 0);

    EXPECT_EQ(CloseMutexHandle(mutex), 1);
}

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
#endif
}

} // namespace
