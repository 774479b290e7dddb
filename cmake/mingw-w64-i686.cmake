# Cross-build for 32-bit Windows with Debian's mingw-w64. The notebook registers its service under
# SysWOW64, so this is a first-class build, not a courtesy one.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TXL_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# Floating point in SSE2 registers, as on x64: the x87 unit keeps products in 80 bits, so a
# scaled wait such as 1000 ms x 0.01 rounds up to 11 ms instead of 10, and the same arithmetic
# would give the two Windows builds different results. Every processor the suite runs on has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
