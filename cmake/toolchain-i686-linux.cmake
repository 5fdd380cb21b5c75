# Cross build for 32-bit x86 Linux with Debian's i686-linux-gnu compilers. The
# arithmetic flags are those of the 32-bit Windows plug-in (SSE2 doubles, no
# contraction; set for every i686 build in the top CMakeLists.txt), so its
# output bytes stand for the 32-bit plug-in's. Programs run under qemu's
# user-mode emulator with the cross sysroot, so CTest needs no i386 kernel
# support. GoogleTest is compiled from /usr/src/googletest (the packaged
# library is built for the build machine).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static -L /usr/i686-linux-gnu)
set(ORVO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build the tests with")
