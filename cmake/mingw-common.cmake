# Shared part of the MinGW-w64 toolchain files. The posix thread model gives
# GoogleTest its std::mutex; with -static, libwinpthread is linked in, so the
# executables still import system DLLs only.
set(CMAKE_C_COMPILER ${QUILLOMIR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLOMIR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLOMIR_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLOMIR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
