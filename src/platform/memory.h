// Allocation failures of the whole process, counted where they are caught.
// A pass that cannot allocate returns 0 or falls back, and the results of
// most passes are not looked at; the render compares the count before and
// after a frame, so a frame that ran short of memory anywhere (on any worker
// thread) is never reported as rendered.
#pragma once

#include <cstdint>

void NoteAllocationFailure();
uint64_t AllocationFailureCount();
