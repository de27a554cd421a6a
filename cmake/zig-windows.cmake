# Windows on ARM64 with Zig's toolchain (clang, lld, llvm-ar, the MinGW-w64
# runtime on UCRT, libc++), through cmake/zig_driver.py. Debian has no aarch64 MinGW-w64.
# One thread model serves the deliverables and the test programs: libc++
# threads on Win32 itself.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-c++)
set(CMAKE_RC_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-rc)
set(CMAKE_DLLTOOL ${CMAKE_CURRENT_LIST_DIR}/zig-dlltool)
set(CMAKE_AR ${CMAKE_CURRENT_LIST_DIR}/zig-ar)
set(CMAKE_RANLIB ${CMAKE_CURRENT_LIST_DIR}/zig-ranlib)
# Zig's resource compiler takes rc.exe's options; it writes the resources as an ARM64 object.
set(CMAKE_RC_COMPILE_OBJECT "<CMAKE_RC_COMPILER> /:output-format coff /:target arm64 <DEFINES> <INCLUDES> <FLAGS> /fo <OBJECT> -- <SOURCE>")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
