// Threads and mutexes: the Windows calls on Windows builds, the C++ standard
// library elsewhere.
#include "platform/threads.h"

#include <new>

#include "platform/memory.h"
#include "platform/win32.h"

#ifdef _WIN32

namespace {

struct ThreadStart {
    ThreadProcedure procedure;
    void* argument;
};

DWORD WINAPI ThreadTrampoline(LPVOID parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    return start.procedure(start.argument);
}

} // namespace

ThreadHandle StartThread(ThreadProcedure procedure, void* argument) {
    if (!procedure) return nullptr;
    ThreadStart* start = new (std::nothrow) ThreadStart{procedure, argument};
    if (!start) {
        NoteAllocationFailure();
        return nullptr;
    }
    HANDLE thread = CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
    if (!thread) {
        NoteAllocationFailure();
        delete start;
    }
    return thread;
}

int32_t WaitForAnyThread(const ThreadHandle* handles, uint32_t count) {
    if (!handles || count == 0 || count > kMaxWaitHandles) return -1;
    DWORD result = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
    if (result < WAIT_OBJECT_0 + count) return (int32_t)(result - WAIT_OBJECT_0);
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count)
        return (int32_t)(result - WAIT_ABANDONED_0);
    return -1;
}

WaitResult WaitForAllThreads(const ThreadHandle* handles, uint32_t count) {
    if (count == 0) return kWaitDone;
    if (!handles || count > kMaxWaitHandles) return kWaitFailed;
    DWORD result = WaitForMultipleObjects(count, handles, TRUE, INFINITE);
    if (result == WAIT_TIMEOUT) return kWaitTimeout;
    if (result < WAIT_OBJECT_0 + count) return kWaitDone;
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count) return kWaitDone;
    return kWaitFailed;
}

int TerminateThreadHandle(ThreadHandle thread, uint32_t exitCode) {
    return TerminateThread(thread, exitCode) ? 1 : 0;
}

int CloseThreadHandle(ThreadHandle thread) {
    return CloseHandle(thread) ? 1 : 0;
}

void SleepMilliseconds(uint32_t milliseconds) {
    Sleep(milliseconds);
}

MutexHandle CreateUnnamedMutex() {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    if (!mutex) NoteAllocationFailure();
    return mutex;
}

MutexWaitResult WaitForMutex(MutexHandle mutex) {
    if (!mutex) return kMutexFailed;
    switch (WaitForSingleObject(mutex, INFINITE)) {
    case WAIT_OBJECT_0:
        return kMutexAcquired;
    case WAIT_ABANDONED:
        return kMutexAbandoned;
    default:
        return kMutexFailed;
    }
}

int ReleaseMutexHandle(MutexHandle mutex) {
    return mutex && ReleaseMutex(mutex) ? 1 : 0;
}

int CloseMutexHandle(MutexHandle mutex) {
    return mutex && CloseHandle(mutex) ? 1 : 0;
}

uint32_t ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors ? (uint32_t)info.dwNumberOfProcessors : 1;
}

#else // standard library

#include <pthread.h>
#ifdef __linux__
#include <sched.h>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Every thread started here signals its end on one process-wide condition,
// so that a wait can cover any set of threads. Both are never destroyed: a
// thread whose handle was closed early may still signal while the process
// exits.
std::mutex& EndLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::condition_variable& EndSignal() {
    static std::condition_variable* signal = new std::condition_variable;
    return *signal;
}

// A started thread: one run of a procedure. Both the handle and the running
// thread hold a reference; the last one to let go deletes the record.
struct ThreadRecord {
    bool ended = false; // guarded by EndLock()
    uint32_t exitCode = 0;
    std::atomic<int> references{2};
};

void DropReference(ThreadRecord* record) {
    if (record->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete record;
}

struct MutexRecord {
    std::mutex lock;
    std::condition_variable released;
    bool owned = false;
    bool abandoned = false;
    std::thread::id owner;
    uint32_t recursion = 0;
};

typedef std::shared_ptr<MutexRecord> MutexRef;

// The mutexes the current thread owns. When the thread ends holding some,
// they become abandoned: the next waiter acquires them and is told so.
struct HeldMutexes {
    std::vector<MutexRef> held;

    void Abandon() {
        for (MutexRef& record : held) {
            std::lock_guard<std::mutex> guard(record->lock);
            record->owned = false;
            record->recursion = 0;
            record->abandoned = true;
            record->released.notify_all();
        }
        held.clear();
    }

    ~HeldMutexes() { Abandon(); }
};

// The list of the calling thread, or null when there is no memory for it.
// It hangs on a thread key rather than a thread_local object: the C library
// ends the process when it cannot register a thread_local's destructor,
// while a key's value costs nothing to register.
HeldMutexes* CurrentHeldMutexes() {
    static pthread_key_t key;
    static const bool keyMade =
        pthread_key_create(&key, [](void* list) { delete static_cast<HeldMutexes*>(list); }) == 0;
    if (!keyMade) return nullptr;
    HeldMutexes* list = static_cast<HeldMutexes*>(pthread_getspecific(key));
    if (list == nullptr) {
        list = new (std::nothrow) HeldMutexes;
        if (list != nullptr && pthread_setspecific(key, list) != 0) {
            delete list;
            list = nullptr;
        }
    }
    return list;
}

void RunThread(ThreadRecord* record, ThreadProcedure procedure, void* argument) {
    uint32_t result = procedure(argument);
    // Mutexes still held are abandoned before the thread counts as ended, so
    // that whoever waited for the thread finds them abandoned at once.
    if (HeldMutexes* held = CurrentHeldMutexes()) held->Abandon();
    {
        std::lock_guard<std::mutex> guard(EndLock());
        record->exitCode = result;
        record->ended = true;
    }
    EndSignal().notify_all();
    DropReference(record);
}

// Polls done() for up to kSpinTime, giving up the processor between polls:
// a frame's passes follow each other within microseconds, while a thread
// woken from sleep takes far longer to run again. Only parked threads poll:
// a launcher that polled while its slices run would take a processor from
// them.
constexpr std::chrono::microseconds kSpinTime{50};

template <typename Done> bool SpinUntil(Done done) {
    const auto until = std::chrono::steady_clock::now() + kSpinTime;
    for (;;) {
        for (int i = 0; i < 32; ++i) {
            if (done()) return true;
            std::this_thread::yield();
        }
        if (std::chrono::steady_clock::now() >= until) return done();
    }
}

// Threads of the system are kept once their procedure has ended: a band job
// starts a thread per slice and pass, dozens per frame, and waking a parked
// thread costs far less than creating one. A parked thread that gets no new
// procedure within kParkedLifetime ends for good.
constexpr std::chrono::seconds kParkedLifetime{2};

// One system thread and the procedure it is to run next (guarded by the
// park's lock; record null while it has none).
struct Runner {
    std::condition_variable wake;
    std::atomic<bool> assigned{true}; // a procedure is waiting to run
    ThreadRecord* record = nullptr;
    ThreadProcedure procedure = nullptr;
    void* argument = nullptr;
};

// The parked threads and their lock. Never destroyed, like the end signal:
// parked threads may outlive main. A child process made by fork has none of
// its parent's threads, so it starts with a park of its own.
struct Park {
    std::mutex lock;
    std::vector<Runner*> parked;
};

Park*& ThePark();

Park* NewPark() {
    pthread_atfork(nullptr, nullptr, [] { ThePark() = new Park; });
    return new Park;
}

Park*& ThePark() {
    static Park* park = NewPark();
    return park;
}

void RunnerMain(Runner* runner) {
    Park* park = ThePark();
    std::unique_lock<std::mutex> guard(park->lock);
    for (;;) {
        ThreadRecord* record = runner->record;
        ThreadProcedure procedure = runner->procedure;
        void* argument = runner->argument;
        guard.unlock();
        RunThread(record, procedure, argument);
        guard.lock();
        runner->record = nullptr;
        runner->assigned.store(false);
        std::vector<Runner*>& parked = park->parked;
        try {
            parked.push_back(runner);
        } catch (...) {
            break; // no room to park: the thread ends
        }
        // The next pass usually starts at once: poll a while before sleeping.
        guard.unlock();
        SpinUntil([runner] { return runner->assigned.load(); });
        guard.lock();
        if (!runner->wake.wait_for(guard, kParkedLifetime,
                                   [runner] { return runner->record != nullptr; })) {
            // Still parked after its lifetime: taken off the list, it ends.
            for (size_t i = 0; i < parked.size(); ++i) {
                if (parked[i] == runner) {
                    parked[i] = parked.back();
                    parked.pop_back();
                    break;
                }
            }
            break;
        }
    }
    guard.unlock();
    delete runner;
}

} // namespace

ThreadHandle StartThread(ThreadProcedure procedure, void* argument) {
    if (!procedure) return nullptr;
    ThreadRecord* record = new (std::nothrow) ThreadRecord;
    if (!record) {
        NoteAllocationFailure();
        return nullptr;
    }
    {
        Park* park = ThePark();
        std::lock_guard<std::mutex> guard(park->lock);
        std::vector<Runner*>& parked = park->parked;
        if (!parked.empty()) {
            Runner* runner = parked.back();
            parked.pop_back();
            runner->record = record;
            runner->procedure = procedure;
            runner->argument = argument;
            runner->assigned.store(true);
            runner->wake.notify_one();
            return record;
        }
    }
    Runner* runner = new (std::nothrow) Runner;
    if (!runner) {
        NoteAllocationFailure();
        delete record;
        return nullptr;
    }
    runner->record = record;
    runner->procedure = procedure;
    runner->argument = argument;
    try {
        std::thread(RunnerMain, runner).detach();
    } catch (...) {
        // No memory or no thread left for it.
        NoteAllocationFailure();
        delete runner;
        delete record;
        return nullptr;
    }
    return record;
}

int32_t WaitForAnyThread(const ThreadHandle* handles, uint32_t count) {
    if (!handles || count == 0 || count > kMaxWaitHandles) return -1;
    for (uint32_t i = 0; i < count; ++i)
        if (!handles[i]) return -1;
    std::unique_lock<std::mutex> guard(EndLock());
    for (;;) {
        for (uint32_t i = 0; i < count; ++i)
            if (static_cast<ThreadRecord*>(handles[i])->ended) return (int32_t)i;
        EndSignal().wait(guard);
    }
}

WaitResult WaitForAllThreads(const ThreadHandle* handles, uint32_t count) {
    if (count == 0) return kWaitDone;
    if (!handles || count > kMaxWaitHandles) return kWaitFailed;
    for (uint32_t i = 0; i < count; ++i)
        if (!handles[i]) return kWaitFailed;
    std::unique_lock<std::mutex> guard(EndLock());
    for (uint32_t i = 0; i < count; ++i) {
        ThreadRecord* record = static_cast<ThreadRecord*>(handles[i]);
        EndSignal().wait(guard, [record] { return record->ended; });
    }
    return kWaitDone;
}

int TerminateThreadHandle(ThreadHandle thread, uint32_t exitCode) {
    (void)exitCode;
    if (!thread) return 0;
    std::lock_guard<std::mutex> guard(EndLock());
    return static_cast<ThreadRecord*>(thread)->ended ? 1 : 0;
}

int CloseThreadHandle(ThreadHandle thread) {
    if (!thread) return 0;
    // A running thread goes on and frees the record itself.
    DropReference(static_cast<ThreadRecord*>(thread));
    return 1;
}

void SleepMilliseconds(uint32_t milliseconds) {
    if (milliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

MutexHandle CreateUnnamedMutex() {
    try {
        return new MutexRef(std::make_shared<MutexRecord>());
    } catch (...) {
        NoteAllocationFailure();
        return nullptr;
    }
}

MutexWaitResult WaitForMutex(MutexHandle mutex) {
    if (!mutex) return kMutexFailed;
    const MutexRef& record = *static_cast<MutexRef*>(mutex);
    std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(record->lock);
    if (record->owned && record->owner == self) {
        ++record->recursion;
        return kMutexAcquired;
    }
    record->released.wait(guard, [&record] { return !record->owned; });
    try {
        HeldMutexes* held = CurrentHeldMutexes();
        if (held == nullptr) throw std::bad_alloc();
        held->held.push_back(record);
    } catch (...) {
        NoteAllocationFailure();
        return kMutexFailed;
    }
    record->owned = true;
    record->owner = self;
    record->recursion = 1;
    if (record->abandoned) {
        record->abandoned = false;
        return kMutexAbandoned;
    }
    return kMutexAcquired;
}

int ReleaseMutexHandle(MutexHandle mutex) {
    if (!mutex) return 0;
    MutexRef record = *static_cast<MutexRef*>(mutex);
    {
        std::lock_guard<std::mutex> guard(record->lock);
        if (!record->owned || record->owner != std::this_thread::get_id()) return 0;
        if (--record->recursion > 0) return 1;
        record->owned = false;
        record->released.notify_one();
    }
    HeldMutexes* list = CurrentHeldMutexes();
    if (list == nullptr) return 1;
    std::vector<MutexRef>& held = list->held;
    for (size_t i = 0; i < held.size(); ++i) {
        if (held[i] == record) {
            held.erase(held.begin() + (std::ptrdiff_t)i);
            break;
        }
    }
    return 1;
}

int CloseMutexHandle(MutexHandle mutex) {
    if (!mutex) return 0;
    delete static_cast<MutexRef*>(mutex);
    return 1;
}

uint32_t ProcessorCount() {
#ifdef __linux__
    // The processors this process may run on (taskset, a batch scheduler's
    // allocation), not every processor of the machine.
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        return (uint32_t)CPU_COUNT(&allowed);
#endif
    unsigned count = std::thread::hardware_concurrency();
    return count ? (uint32_t)count : 1;
}

#endif
