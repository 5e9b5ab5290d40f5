# Cross toolchain: i686 Windows with the mingw-w64 posix-thread compilers
# (the win32-thread variant has no std::thread / std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_AR           ${TOOLCHAIN_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${TOOLCHAIN_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Floating point as Windows compilers do 32-bit code (SSE2 scalar math):
# x87's 80-bit intermediates round otherwise (a scaled width of 1728.0 where
# float math gives 1727.9999, a volume of -66.438562 dB for -66.438560).
# Options rather than *_FLAGS_INIT, so build trees made earlier take them too.
add_compile_options(-msse2 -mfpmath=sse)
# Frame pointers: Windows' dbghelp walks 32-bit stacks by the EBP chain (it
# reads no DWARF unwind tables, which only Wine's follows), and
# RtlCaptureContext finds its caller's caller through it.
add_compile_options(-fno-omit-frame-pointer)
