# CMake toolchain for a 64-bit Windows console build with MinGW-w64: the Wine checks run on it
# where the kernel runs no 32-bit programs, and so no 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTROVA_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
