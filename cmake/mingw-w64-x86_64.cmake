# Cross-builds the Windows program on Debian with MinGW-w64 (the posix
# thread model, so std::thread and std::mutex work), linked to need only
# Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELLICO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELLICO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLICO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELLICO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELLICO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libstdc++, libgcc and winpthread go into the .exe: nothing to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine on the build machine.
find_program(VELLICO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VELLICO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELLICO_WINE})
endif()
