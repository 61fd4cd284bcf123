# Cross build for Windows with the MinGW-w64 posix-thread compilers of
# VANTORIMA_MINGW_TRIPLE (set by mingw-i686.cmake or mingw-x86_64.cmake); the
# test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${VANTORIMA_MINGW_TRIPLE})
set(CMAKE_C_COMPILER ${VANTORIMA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTORIMA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTORIMA_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VANTORIMA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# 64-bit programs run on the 64-bit loader itself: Debian's `wine` is the
# 32-bit one, which hands a 64-bit program to start.exe /exec, that is, to
# ShellExecuteEx, and that fails now and then in a fresh prefix ("ShellExecuteEx
# 失败": the test never ran).
if(VANTORIMA_MINGW_TRIPLE MATCHES "^x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
