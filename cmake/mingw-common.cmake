# Shared part of the MinGW-w64 toolchain files. The win32 thread model keeps
# the executables free of libwinpthread, so they import system DLLs only.
set(CMAKE_C_COMPILER ${QUILLOMIR_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${QUILLOMIR_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${QUILLOMIR_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLOMIR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
