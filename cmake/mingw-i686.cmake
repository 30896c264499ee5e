# CMake toolchain for the 32-bit Windows console build, the one shipped, with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTROVA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
