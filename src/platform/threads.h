// Threads and the unnamed mutex: the only place that touches threads. On
// Windows every operation is the system call of the same meaning; elsewhere
// the same behaviour is built on the C++ standard library.
#pragma once

#include <cstdint>

typedef void* ThreadHandle;
typedef void* MutexHandle;

// A thread's procedure; its result becomes the thread's exit code.
typedef uint32_t (*ThreadProcedure)(void* argument);

// The most handles one wait may cover (the Windows limit of a multiple-object
// wait). Callers keep their handle sets at or below it.
constexpr uint32_t kMaxWaitHandles = 64;

enum WaitResult : uint32_t {
    kWaitDone = 0,    // the awaited threads have ended
    kWaitTimeout = 1, // reported by the system only; waits here have no time-out
    kWaitFailed = 2,  // bad handle set or a system failure
};

enum MutexWaitResult : uint32_t {
    kMutexAcquired = 0,  // normal acquisition
    kMutexAbandoned = 1, // acquired, but its last owner ended without releasing it
    kMutexFailed = 2,
};

// Starts a thread at once with the default stack size; null on failure. A
// thread is one run of the procedure: it has ended once the procedure has
// returned. Off Windows the system thread under it is then kept parked for a
// while and runs the procedure of a later start.
ThreadHandle StartThread(ThreadProcedure procedure, void* argument);

// Blocks until any thread of the set has ended; returns its index, or -1 on
// failure (empty set, more than kMaxWaitHandles, a null handle).
int32_t WaitForAnyThread(const ThreadHandle* handles, uint32_t count);

// Blocks until every thread of the set has ended.
WaitResult WaitForAllThreads(const ThreadHandle* handles, uint32_t count);

// Ends a thread with the given exit code. Windows stops the thread wherever
// it is. A standard-library thread cannot be stopped safely from outside, so
// elsewhere this succeeds (TRUE = 1) only when the thread has already ended,
// and returns 0 for a running thread, which keeps running: callers must then
// wait for it.
int TerminateThreadHandle(ThreadHandle thread, uint32_t exitCode);

// Closes a thread handle (the thread itself runs on); 1 success, 0 failure.
// Only the owner of a handle closes it, and never while it waits on it.
int CloseThreadHandle(ThreadHandle thread);

// Gives up the processor for at least the given time; 0 only yields.
void SleepMilliseconds(uint32_t milliseconds);

// An unnamed mutex, not initially owned; null on failure. Like the Windows
// mutex it belongs to a thread, may be acquired again by its owner (each
// acquisition needs its own release) and is abandoned when its owner thread
// ends while holding it.
MutexHandle CreateUnnamedMutex();
MutexWaitResult WaitForMutex(MutexHandle mutex);
// 1 when released, 0 when the calling thread does not own the mutex.
int ReleaseMutexHandle(MutexHandle mutex);
int CloseMutexHandle(MutexHandle mutex);

// Number of processors this process may use (at least 1).
uint32_t ProcessorCount();
