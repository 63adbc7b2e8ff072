# Windows, x86: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(TREVALO_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
