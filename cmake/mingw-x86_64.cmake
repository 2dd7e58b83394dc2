# Cross build for 64-bit Windows with mingw-w64: the test form of the Windows build for machines
# whose kernel runs no 32-bit programs (the shipped programs are the 32-bit build's).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SV_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
