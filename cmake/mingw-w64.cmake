# Cross build for 64-bit Windows with Debian's mingw-w64 compilers; Wine runs the programs.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The -posix flavour: its libstdc++ has std::thread and std::mutex, which the simulated camera needs.
set(ORV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, winpthreads included, so that an .exe needs only the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest (and test discovery at build time) start the programs through Wine, headless and quiet,
# in a Wine prefix of the build tree's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wine-prefix)
