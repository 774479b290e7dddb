# Cross-build for 32-bit Windows with Debian's mingw-w64. The notebook registers its service under
# SysWOW64, so this is a first-class build, not a courtesy one.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TXL_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
