# Cross build for Windows (x86_64) with the mingw-w64 compilers of the posix thread model (the
# win32 model has no std::mutex or std::thread). Everything is linked statically, so the programs
# need no MinGW runtime DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELOR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PELOR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELOR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PELOR_MINGW_TRIPLE}-windres)

# Libraries and packages from the MinGW tree only, never the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${PELOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under wine (ctest, and test discovery).
find_program(PELOR_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(PELOR_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELOR_WINE64})
endif()
