# MinGW-w64 cross toolchain, included by the per-architecture files, which set
# CMAKE_SYSTEM_PROCESSOR, TOOL_PREFIX and MINGW_THREADS. What ships is built
# with the win32 thread model (single-threaded tools, no winpthread); the
# cross-built test programs use the posix model, since GoogleTest needs
# std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TOOL_PREFIX}-gcc-${MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${TOOL_PREFIX}-g++-${MINGW_THREADS})
set(CMAKE_RC_COMPILER ${TOOL_PREFIX}-windres)
set(CMAKE_DLLTOOL ${TOOL_PREFIX}-dlltool)
set(CMAKE_STRIP ${TOOL_PREFIX}-strip)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOL_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
