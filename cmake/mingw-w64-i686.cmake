# Cross build for Windows (i686) with the mingw-w64 compilers of the posix thread model (the
# win32 model has no std::mutex or std::thread). Everything is linked statically, so the programs
# need no MinGW runtime DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PELOR_MINGW_TRIPLE i686-w64-mingw32)
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

# 32-bit programs need a 32-bit wine, which this kind of build machine often cannot run:
# an emulator is used only when one is named (-DPELOR_WINE32=/path/to/wine).
if(PELOR_WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELOR_WINE32})
endif()
