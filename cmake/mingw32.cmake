# Cross build of the 32-bit Windows DLL with MinGW-w64 (Debian: g++-mingw-w64-i686); the
# programs it builds run under Wine (Debian: wine with wine32:i386).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VM316_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VM316_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VM316_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${VM316_MINGW_TRIPLET}-windres)

# Headers and libraries of the target only; build tools come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VM316_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest runs the Windows test programs through Wine.
find_program(VM316_WINE wine)
if(VM316_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VM316_WINE})
endif()
