# The whole console for 64-bit Windows: Qt's own toolchain file (it finds Qt for Windows) loads this
# one for the compilers and Wine (scripts/build-windows.sh passes both).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Qt's DLLs need the C++ runtime DLLs anyway, so the programs share them (shipped beside the
# programs) instead of each carrying a copy of its own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "")
