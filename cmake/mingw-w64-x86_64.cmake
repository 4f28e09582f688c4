# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (POSIX thread
# model, so that std::thread and std::mutex work). Everything is linked
# statically - libgcc, libstdc++ and winpthread included - so the programs need
# no DLL beyond those Windows ships.
#
# SQLite and GoogleTest built for Windows, and the archiver 7zr.exe, are found
# under VELTORA_MINGW_PREFIX (default /opt/veltora-mingw), where
# scripts/install-windows-deps.sh puts them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELTORA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELTORA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTORA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTORA_MINGW_TRIPLET}-windres)

if(NOT VELTORA_MINGW_PREFIX)
  set(VELTORA_MINGW_PREFIX /opt/veltora-mingw)
endif()
# Try-compiles configure projects of their own: hand the prefix on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELTORA_MINGW_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${VELTORA_MINGW_TRIPLET} ${VELTORA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
