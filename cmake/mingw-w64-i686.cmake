# Cross-build for 32-bit Windows with Debian's mingw-w64 (POSIX threads flavour, which provides
# std::thread and std::mutex). The notebook registers its service under SysWOW64, so this is a
# first-class build, not a courtesy one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TXL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TXL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TXL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TXL_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TXL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
