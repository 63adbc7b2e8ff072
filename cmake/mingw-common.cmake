# Cross build for Windows with MinGW-w64, for the processor that the including toolchain file
# names in TREVALO_MINGW_ARCH (i686 or x86_64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TREVALO_MINGW_ARCH})
set(TREVALO_MINGW_TRIPLE ${TREVALO_MINGW_ARCH}-w64-mingw32)
# The posix flavour has std::thread and std::mutex; the run time is linked statically.
set(posix "")
if(EXISTS /usr/bin/${TREVALO_MINGW_TRIPLE}-g++-posix)
  set(posix -posix)
endif()
set(CMAKE_C_COMPILER ${TREVALO_MINGW_TRIPLE}-gcc${posix})
set(CMAKE_CXX_COMPILER ${TREVALO_MINGW_TRIPLE}-g++${posix})
set(CMAKE_RC_COMPILER ${TREVALO_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TREVALO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
