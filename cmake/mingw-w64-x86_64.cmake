# Cross-build for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, so std::thread works). The executables link the C++ runtime and
# winpthread statically, so they run under wine or on Windows without DLLs
# beside them; with -DMINGW_STATIC_RUNTIME=OFF (the program against a shared
# Qt, which has the runtime DLLs beside it) they do not.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# MINGW_QT_PREFIX: where a Qt built for Windows is installed (build-windows.sh).
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${MINGW_QT_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT DEFINED MINGW_STATIC_RUNTIME OR MINGW_STATIC_RUNTIME)
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()
# Programs built here run through wine when CMake or CTest need to start them.
find_program(MINGW_WINE NAMES wine64 wine)
if(MINGW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MINGW_WINE})
endif()
