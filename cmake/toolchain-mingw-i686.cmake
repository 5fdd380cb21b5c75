# Cross build for 32-bit Windows. The host guarantees only 4-byte stack
# alignment at every call into the plug-in (entry and callbacks), so nothing
# may assume more: GCC realigns the stack where SSE spills need it. Doubles
# are evaluated in SSE2 as on x86_64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_prefix i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
