// Rectangle helpers, threads, the mutex and the processor count.
#include <sched.h>

#include <atomic>
#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "platform/rect.h"
#include "platform/threads.h"

namespace {

// Every rectangle with corners in -1..2 (empty and inverted ones included)
// against every other, judged by the points of -2..3 each holds: empty
// exactly when it holds none, an intersection holds what both hold.
TEST(RectHelpers, AgreeWithThePointsEachRectangleHolds) {
    auto V = [](const RECT& r) { return std::vector<int>{r.left, r.top, r.right, r.bottom}; };
    std::vector<RECT> rects(256);
    for (int i = 0; i < 256; ++i)
        ASSERT_TRUE(SetRect(&rects[i], i % 4 - 1, i / 4 % 4 - 1, i / 16 % 4 - 1, i / 64 - 1));
    auto in = [](const RECT& r, int p) { return !!PtInRect(&r, POINT{p % 6 - 2, p / 6 - 2}); };
    for (const RECT& a : rects) {
        bool any = false;
        for (const RECT& b : rects) {
            RECT out = {9, 9, 9, 9};
            const bool overlap = IntersectRect(&out, &a, &b);
            for (int p = 0; p < 36; ++p) {
                any = any || in(a, p);
                ASSERT_EQ(in(out, p), in(a, p) && in(b, p));
            }
            ASSERT_EQ(overlap, !IsRectEmpty(&out)); // out holds exactly the common points
            ASSERT_TRUE(overlap || V(out) == V(RECT{}));
            ASSERT_EQ(!!EqualRect(&a, &b), V(a) == V(b));
        }
        ASSERT_EQ(!!IsRectEmpty(&a), !any) << V(a)[0] << V(a)[1] << V(a)[2] << V(a)[3];
    }
    RECT r = {1, 2, 3, 4};
    EXPECT_TRUE(OffsetRect(&r, -1, 10) && V(r) == V(RECT{0, 12, 2, 14}));
    // A null rectangle makes every helper fail (and counts as empty).
    EXPECT_FALSE(IntersectRect(nullptr, &r, &r) || EqualRect(&r, nullptr) || !IsRectEmpty(nullptr));
}

struct Task {
    std::atomic<int> open{0}, done{0}, result{-1};
    MutexHandle mutex = nullptr;
    bool acquire = false;
};
// A test thread: waits at its gate, then releases the mutex (not owning it)
// or acquires it and ends holding it.
uint32_t Work(void* p) {
    Task* t = static_cast<Task*>(p);
    while (!t->open.load())
        SleepMilliseconds(0);
    if (t->mutex)
        t->result.store(t->acquire ? int(WaitForMutex(t->mutex)) : ReleaseMutexHandle(t->mutex));
    return uint32_t(t->done.exchange(1));
}
int RunToEnd(Task* task, bool acquire) {
    task->acquire = acquire, task->open.store(1);
    ThreadHandle thread = StartThread(Work, task);
    EXPECT_TRUE(WaitForAllThreads(&thread, 1) == kWaitDone && CloseThreadHandle(thread));
    return task->result.load();
}

TEST(Threads, WaitsTheMutexTheProcessorCountAndSleeps) {
    Task gates[3];
    ThreadHandle handles[3];
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(handles[i] = StartThread(Work, &gates[i]), nullptr);
    EXPECT_EQ(TerminateThreadHandle(handles[0], 0), 0); // a running thread cannot be stopped
    gates[2].open.store(1);
    EXPECT_EQ(WaitForAnyThread(handles, 3), 2);
    gates[0].open.store(1), gates[1].open.store(1);
    EXPECT_EQ(WaitForAllThreads(handles, 3), kWaitDone);
    // Ended: "terminated", closed, and both threads opened last ran. Bad
    // handles and an empty set fail (an empty wait would never return).
    ThreadHandle none[1] = {nullptr};
    EXPECT_EQ(
        (std::vector<long long>{TerminateThreadHandle(handles[0], 0), CloseThreadHandle(handles[0]),
                                CloseThreadHandle(handles[1]), CloseThreadHandle(handles[2]),
                                gates[0].done + gates[1].done, WaitForAnyThread(none, 1),
                                WaitForAnyThread(none, 0), WaitForAllThreads(none, 1),
                                CloseThreadHandle(nullptr), !!StartThread(nullptr, nullptr)}),
        (std::vector<long long>{1, 1, 1, 1, 2, -1, -1, kWaitFailed, 0, 0}));
    // The owner may acquire again, each acquisition released; only the owner
    // releases; a mutex left by an ending owner is acquired as abandoned.
    Task t;
    ASSERT_NE(t.mutex = CreateUnnamedMutex(), nullptr);
    EXPECT_EQ((std::vector<long long>{
                  WaitForMutex(t.mutex), WaitForMutex(t.mutex), RunToEnd(&t, false),
                  ReleaseMutexHandle(t.mutex), ReleaseMutexHandle(t.mutex),
                  ReleaseMutexHandle(t.mutex), RunToEnd(&t, true), WaitForMutex(t.mutex),
                  ReleaseMutexHandle(t.mutex), WaitForMutex(t.mutex), ReleaseMutexHandle(t.mutex),
                  WaitForMutex(nullptr), ReleaseMutexHandle(nullptr), CloseMutexHandle(t.mutex)}),
              (std::vector<long long>{kMutexAcquired, kMutexAcquired, 0, 1, 1, 0, kMutexAcquired,
                                      kMutexAbandoned, 1, kMutexAcquired, 1, kMutexFailed, 0, 1}));
    cpu_set_t saved, one{}; // the process pinned to one processor has one
    ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
    CPU_SET(sched_getcpu(), &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(ProcessorCount(), 1u);
    ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
    const auto start = std::chrono::steady_clock::now(); // a sleep lasts at least its time
    SleepMilliseconds(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

} // namespace
