# Windows with Zig's toolchain (clang, lld, llvm-ar, the MinGW-w64 runtime on
# the UCRT, libc++), through cmake/zig_driver.py, for the architecture the
# preset names in KORVEL_WINDOWS_ARCH: x64, x86 or arm64. One thread model
# serves the deliverables and the test programs: libc++ threads on Win32 itself.
set(CMAKE_SYSTEM_NAME Windows)
# The toolchain is read again for each compiler check, which sees only the variables listed here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORVEL_WINDOWS_ARCH)
if(KORVEL_WINDOWS_ARCH STREQUAL "x64")
    set(CMAKE_SYSTEM_PROCESSOR x86_64)
    set(ZIG_TARGET x86_64-windows-gnu)
elseif(KORVEL_WINDOWS_ARCH STREQUAL "x86")
    set(CMAKE_SYSTEM_PROCESSOR x86)
    set(ZIG_TARGET x86-windows-gnu)
elseif(KORVEL_WINDOWS_ARCH STREQUAL "arm64")
    set(CMAKE_SYSTEM_PROCESSOR ARM64)
    set(ZIG_TARGET aarch64-windows-gnu)
else()
    message(FATAL_ERROR "KORVEL_WINDOWS_ARCH is '${KORVEL_WINDOWS_ARCH}': x64, x86 or arm64")
endif()
# Handed to the driver as --target= on every compile and link.
set(CMAKE_C_COMPILER_TARGET ${ZIG_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${ZIG_TARGET})
set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-c++)
set(CMAKE_RC_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-rc)
set(CMAKE_DLLTOOL ${CMAKE_CURRENT_LIST_DIR}/zig-dlltool)
set(CMAKE_AR ${CMAKE_CURRENT_LIST_DIR}/zig-ar)
set(CMAKE_RANLIB ${CMAKE_CURRENT_LIST_DIR}/zig-ranlib)
# Zig's resource compiler takes rc.exe's options; it writes the resources as an object of the architecture.
set(CMAKE_RC_COMPILE_OBJECT "<CMAKE_RC_COMPILER> /:output-format coff /:target ${KORVEL_WINDOWS_ARCH} <DEFINES> <INCLUDES> <FLAGS> /fo <OBJECT> -- <SOURCE>")
# CMake's compiler checks compile without linking: a link would make Zig build its whole
# runtime once more, unoptimized, for a program nobody runs.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
