# libdeflate for vyn.exe, whose PNG files are compressed with it as the native
# vyn's are. Debian ships no MinGW build, so the Windows build makes a static
# library from Debian's own source package (DebianSource.cmake): the
# compression half only, which is all vyn uses.
#
# Defines the target vyn_deflate.

enable_language(C)
include(${CMAKE_CURRENT_LIST_DIR}/DebianSource.cmake)
vyn_debian_source(libdeflate vyn_libdeflate_source)

add_library(vyn_deflate STATIC
  ${vyn_libdeflate_source}/lib/adler32.c
  ${vyn_libdeflate_source}/lib/deflate_compress.c
  ${vyn_libdeflate_source}/lib/utils.c
  ${vyn_libdeflate_source}/lib/zlib_compress.c
  ${vyn_libdeflate_source}/lib/x86/cpu_features.c)
target_include_directories(vyn_deflate SYSTEM PUBLIC ${vyn_libdeflate_source})
target_compile_options(vyn_deflate PRIVATE -w)
