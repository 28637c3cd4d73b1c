# cpp-httplib for the viewer of vyn.exe. Debian's
# libcpp-httplib-dev holds the library compiled for the build machine and a
# header of declarations only; Debian's source package holds the whole
# library as one header, which MinGW-w64 compiles (DebianSource.cmake). It
# talks through Winsock, WS2_32.dll, which every Windows has.
#
# Defines the target vyn_httplib.

include(${CMAKE_CURRENT_LIST_DIR}/DebianSource.cmake)
vyn_debian_source(cpp-httplib vyn_httplib_source)
add_library(vyn_httplib INTERFACE)
target_include_directories(vyn_httplib SYSTEM INTERFACE ${vyn_httplib_source})
target_link_libraries(vyn_httplib INTERFACE ws2_32)
