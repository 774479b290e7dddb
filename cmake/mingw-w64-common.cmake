# What both mingw-w64 toolchains share (Debian's POSIX threads flavour, which provides std::thread
# and std::mutex). The including file sets TXL_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TXL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TXL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TXL_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TXL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
