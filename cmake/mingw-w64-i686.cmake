# 32-bit Windows: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#
# Floating point in SSE2 registers, not on the x87 stack: x87 keeps
# intermediates in 80 bits, and track values, rows and the rest would then
# differ from the 64-bit builds in their last bits. Windows only promises a
# 4-byte aligned stack to 32-bit code, so functions realign theirs before
# spilling SSE registers (window procedures and threads are entered from
# system code).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
