# Cross build for the device: 32-bit ARM, hard-float EABI (Debian's
# g++-arm-linux-gnueabihf). Hardening and the static C++ runtime come from
# cmake/Hardening.cmake, as for every build.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(APP_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${APP_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${APP_CROSS_TRIPLE}-g++)
# Where the cross C library lives; also what the emulator needs as its prefix.
set(CMAKE_FIND_ROOT_PATH /usr/${APP_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# 32-bit ARM Linux has 4 KiB pages (CMakeLists.txt links for them).
set(APP_PAGE_SIZE 4096)
