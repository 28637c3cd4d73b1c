# libpng for vyn.exe. Debian ships no MinGW build of libpng, so the Windows
# build makes one from Debian's own source package (DebianSource.cmake) and
# links it statically with the zlib of Debian's libz-mingw-w64-dev: vyn.exe
# needs no DLL beside it.
#
# Defines the target vyn_png (libpng and zlib, static).

include(${CMAKE_CURRENT_LIST_DIR}/DebianSource.cmake)
vyn_debian_source(libpng1.6 vyn_libpng_source)

find_library(VYN_MINGW_ZLIB NAMES libz.a REQUIRED)
find_path(VYN_MINGW_ZLIB_INCLUDE zlib.h REQUIRED)
set(ZLIB_LIBRARY ${VYN_MINGW_ZLIB} CACHE FILEPATH "zlib for libpng, static" FORCE)
set(ZLIB_INCLUDE_DIR ${VYN_MINGW_ZLIB_INCLUDE} CACHE PATH "zlib's headers for libpng" FORCE)

set(PNG_SHARED OFF CACHE BOOL "" FORCE)
set(PNG_STATIC ON CACHE BOOL "" FORCE)
set(PNG_EXECUTABLES OFF CACHE BOOL "" FORCE)
set(PNG_TESTS OFF CACHE BOOL "" FORCE)
set(PNG_HARDWARE_OPTIMIZATIONS OFF CACHE BOOL "" FORCE)
set(SKIP_INSTALL_ALL ON CACHE BOOL "" FORCE)
add_subdirectory(${vyn_libpng_source} ${CMAKE_BINARY_DIR}/third_party/libpng-build EXCLUDE_FROM_ALL)

add_library(vyn_png INTERFACE)
target_link_libraries(vyn_png INTERFACE png_static ${VYN_MINGW_ZLIB})
target_include_directories(vyn_png SYSTEM INTERFACE ${vyn_libpng_source}
                           ${CMAKE_BINARY_DIR}/third_party/libpng-build ${VYN_MINGW_ZLIB_INCLUDE})
