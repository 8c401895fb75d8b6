# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads, so that std::thread and
# std::mutex exist; the runtime linked in, so the programs need no DLLs beside them).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SFX_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${SFX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SFX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SFX_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${SFX_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${SFX_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${SFX_MINGW_TRIPLET})
if(SFX_WINDOWS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${SFX_WINDOWS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
# Test programs run under Wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
