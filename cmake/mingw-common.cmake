# Shared by the mingw-w64 toolchain files: they set ZR_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR.
# The posix-thread compilers: the win32-thread ones lack std::mutex and friends.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZR_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${ZR_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for the export-table check")

set(CMAKE_FIND_ROOT_PATH /usr/${ZR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built here run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
