# vyn_debian_source(PACKAGE OUT_VAR): the unpacked tree of one of Debian's
# source packages, for a library Debian ships no MinGW build of. It is
# fetched once with `apt-get source` into the build tree (the version Debian
# patches and maintains) and OUT_VAR names it. cmake/install-deps.sh adds the
# deb-src entry that `apt-get source` needs.
function(vyn_debian_source package out_var)
  set(download ${CMAKE_BINARY_DIR}/third_party/${package}-source)
  # The unpacked tree is PACKAGE-VERSION, beside the .dsc and tarballs.
  set(tree_regex "/${package}-[0-9][^/]*$")
  file(GLOB trees LIST_DIRECTORIES true ${download}/${package}-*)
  list(FILTER trees INCLUDE REGEX "${tree_regex}")
  list(FILTER trees EXCLUDE REGEX "\\.(dsc|xz|gz|bz2)$")
  if(NOT trees)
    find_program(VYN_APT_GET apt-get)
    if(NOT VYN_APT_GET)
      message(FATAL_ERROR "The Windows build makes ${package} from Debian's source package and "
                          "needs apt-get")
    endif()
    message(STATUS "Fetching Debian's source package ${package} into ${download}")
    file(REMOVE_RECURSE ${download})
    file(MAKE_DIRECTORY ${download})
    execute_process(COMMAND ${VYN_APT_GET} source -q ${package}
                    WORKING_DIRECTORY ${download}
                    RESULT_VARIABLE apt_result
                    OUTPUT_VARIABLE apt_output
                    ERROR_VARIABLE apt_output)
    file(GLOB trees LIST_DIRECTORIES true ${download}/${package}-*)
    list(FILTER trees INCLUDE REGEX "${tree_regex}")
    list(FILTER trees EXCLUDE REGEX "\\.(dsc|xz|gz|bz2)$")
    if(NOT apt_result EQUAL 0 OR NOT trees)
      message(FATAL_ERROR "`apt-get source ${package}` failed; run cmake/install-deps.sh "
                          "(as root), which adds the deb-src entry it needs:\n${apt_output}")
    endif()
  endif()
  list(GET trees 0 tree)
  set(${out_var} ${tree} PARENT_SCOPE)
endfunction()
