#include "platform/memory.h"

#include <atomic>

namespace {
std::atomic<uint64_t> g_allocationFailures{0};
} // namespace

void NoteAllocationFailure() {
    g_allocationFailures.fetch_add(1, std::memory_order_relaxed);
}

uint64_t AllocationFailureCount() {
    return g_allocationFailures.load(std::memory_order_relaxed);
}
