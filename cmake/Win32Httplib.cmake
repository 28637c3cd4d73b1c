# cpp-httplib and nlohmann-json for the viewer of vyn.exe. Debian's
# libcpp-httplib-dev holds the library compiled for the build machine and a
# header of declarations only; Debian's source package holds the whole
# library as one header, which MinGW-w64 compiles (DebianSource.cmake). It
# talks through Winsock, WS2_32.dll, which every Windows has. nlohmann-json
# is header-only: its headers are copied into the build tree, so that the
# cross build never sees the rest of the build machine's /usr/include.
#
# Defines the targets vyn_httplib and vyn_json.

include(${CMAKE_CURRENT_LIST_DIR}/DebianSource.cmake)
vyn_debian_source(cpp-httplib vyn_httplib_source)
add_library(vyn_httplib INTERFACE)
target_include_directories(vyn_httplib SYSTEM INTERFACE ${vyn_httplib_source})
target_link_libraries(vyn_httplib INTERFACE ws2_32)

find_path(VYN_JSON_INCLUDE_DIR nlohmann/json.hpp NO_CMAKE_FIND_ROOT_PATH)
if(NOT VYN_JSON_INCLUDE_DIR)
  message(FATAL_ERROR "vyn view needs nlohmann-json (Debian: nlohmann-json3-dev; "
                      "cmake/install-deps.sh installs it)")
endif()
set(vyn_json_copy ${CMAKE_BINARY_DIR}/third_party/json)
file(COPY ${VYN_JSON_INCLUDE_DIR}/nlohmann DESTINATION ${vyn_json_copy})
add_library(vyn_json INTERFACE)
target_include_directories(vyn_json SYSTEM INTERFACE ${vyn_json_copy})
