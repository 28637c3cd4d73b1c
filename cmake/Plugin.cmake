# add_vyn_plugin(NAME DEF file.def SOURCES ... [VARIANT_OF PLUGIN VARIANT_DIR DIR])
#
# Builds a plug-in as a loadable module named exactly NAME (no "lib" prefix)
# from the shared frame and the given sources. The module-definition file is
# the one list of exports: on Windows the linker reads it, elsewhere it is
# turned into a version script, so both builds export the same names and
# nothing else.
#
# A variant is another build of an existing plug-in for the tests alone: it
# takes the plug-in's file name but lands in the subdirectory DIR of the
# output directory, where no host looks for plug-ins, and it is left out of
# `plugins` and of the export-table checks.
function(add_vyn_plugin name)
  cmake_parse_arguments(PLUGIN "" "DEF;VARIANT_OF;VARIANT_DIR" "SOURCES" ${ARGN})
  add_library(${name} MODULE ${PLUGIN_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "")
  target_link_libraries(${name} PRIVATE frame)
  vyn_warnings(${name})

  if(PLUGIN_VARIANT_OF)
    set_target_properties(${name} PROPERTIES
      OUTPUT_NAME ${PLUGIN_VARIANT_OF}
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}/${PLUGIN_VARIANT_DIR}
      BUILD_RPATH "$ORIGIN/..")
  else()
    # Recorded for the checks of each plug-in's export table; `plugins`
    # builds every plug-in and nothing else.
    set_target_properties(${name} PROPERTIES VYN_DEF ${PLUGIN_DEF})
    set_property(GLOBAL APPEND PROPERTY VYN_PLUGINS ${name})
    if(NOT TARGET plugins)
      add_custom_target(plugins)
    endif()
    add_dependencies(plugins ${name})
  endif()

  if(WIN32)
    # The exports are stdcall functions, named in the .def without their
    # @-suffix: the linker binds each plain name to its decorated symbol and
    # exports it undecorated. The C and C++ runtimes are linked in, so the
    # DLL loads with nothing but KERNEL32.dll and msvcrt.dll. No exception
    # ever crosses an export, and built without them a plug-in carries no
    # unwinder and no thread library: its start-up is the C runtime's alone.
    target_sources(${name} PRIVATE ${PLUGIN_DEF})
    target_compile_options(${name} PRIVATE -fno-exceptions)
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++
                        "LINKER:--kill-at" "LINKER:--enable-stdcall-fixup")
  else()
    file(STRINGS ${PLUGIN_DEF} def_lines)
    set(exports "")
    set(in_exports FALSE)
    foreach(line IN LISTS def_lines)
      string(STRIP "${line}" line)
      if(line STREQUAL "EXPORTS")
        set(in_exports TRUE)
      elseif(in_exports AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)")
        string(APPEND exports "    ${CMAKE_MATCH_1};\n")
      endif()
    endforeach()
    set(map ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
    file(WRITE ${map} "{\n  global:\n${exports}  local: *;\n};\n")
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${map} ${PLUGIN_DEF})
    target_link_options(${name} PRIVATE "LINKER:--version-script=${map}")
    if(VYN_NO_UNDEFINED)
      # Every symbol a plug-in needs is resolved when it is linked, not when a
      # host loads it. (Off in builds whose sanitizer runtime only the
      # executable carries.)
      target_link_options(${name} PRIVATE "LINKER:-z,defs")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PLUGIN_DEF})
  endif()
endfunction()
