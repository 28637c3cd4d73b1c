# libpng for vyn.exe. Debian ships no MinGW build of libpng, so the Windows
# build makes one from Debian's own source package (the version Debian
# patches and maintains), fetched once into the build tree with
# `apt-get source`, and links it statically with the zlib of Debian's
# libz-mingw-w64-dev: vyn.exe needs no DLL beside it. cmake/install-deps.sh
# adds the deb-src entry that `apt-get source` needs.
#
# Defines the target vyn_png (libpng and zlib, static).

set(VYN_LIBPNG_PACKAGE libpng1.6)
set(vyn_libpng_download ${CMAKE_BINARY_DIR}/third_party/libpng-source)
file(GLOB vyn_libpng_source LIST_DIRECTORIES true ${vyn_libpng_download}/${VYN_LIBPNG_PACKAGE}-*)
list(FILTER vyn_libpng_source INCLUDE REGEX "/${VYN_LIBPNG_PACKAGE}-[0-9.]+$")
if(NOT vyn_libpng_source)
  find_program(VYN_APT_GET apt-get)
  if(NOT VYN_APT_GET)
    message(FATAL_ERROR "The Windows build makes libpng from Debian's source package and needs apt-get")
  endif()
  message(STATUS "Fetching Debian's source package ${VYN_LIBPNG_PACKAGE} into ${vyn_libpng_download}")
  file(REMOVE_RECURSE ${vyn_libpng_download})
  file(MAKE_DIRECTORY ${vyn_libpng_download})
  execute_process(COMMAND ${VYN_APT_GET} source -q ${VYN_LIBPNG_PACKAGE}
                  WORKING_DIRECTORY ${vyn_libpng_download}
                  RESULT_VARIABLE vyn_apt_result
                  OUTPUT_VARIABLE vyn_apt_output
                  ERROR_VARIABLE vyn_apt_output)
  file(GLOB vyn_libpng_source LIST_DIRECTORIES true ${vyn_libpng_download}/${VYN_LIBPNG_PACKAGE}-*)
  list(FILTER vyn_libpng_source INCLUDE REGEX "/${VYN_LIBPNG_PACKAGE}-[0-9.]+$")
  if(NOT vyn_apt_result EQUAL 0 OR NOT vyn_libpng_source)
    message(FATAL_ERROR "`apt-get source ${VYN_LIBPNG_PACKAGE}` failed; run cmake/install-deps.sh "
                        "(as root), which adds the deb-src entry it needs:\n${vyn_apt_output}")
  endif()
endif()
list(GET vyn_libpng_source 0 vyn_libpng_source)

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
