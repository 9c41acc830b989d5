# The module-author kit.
#
# zel_add_module(NAME SOURCES...)
#
# Builds a zel module (a pack module or a syntax module) as NAME.so, against
# the plug-in header only. Symbols are hidden by default; the export macros
# of zel_module.h make "create" and "destroy" visible.
set(ZEL_MODULE_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/../src/modules)

function(zel_add_module name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".so"
    CXX_STANDARD 17
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${name} PRIVATE ${ZEL_MODULE_INCLUDE_DIR})
endfunction()

# zel_add_pack(NAME SYNTAX FILE [MODULES TARGETS...] [SYNTAX_MODULES TARGETS...]
#              [DESTINATION DIR])
#
# Lays out a built pack in DIR (default <build>/packs/NAME) in the form that
# "zel add-pack DIR --app HOME" installs: NAME.zel (copied from FILE), the
# pack modules in NAME/ and the syntax modules in korrin_linux/. The target
# NAME_pack, part of the default build, keeps the layout up to date.
function(zel_add_pack name)
  cmake_parse_arguments(PACK "" "SYNTAX;DESTINATION" "MODULES;SYNTAX_MODULES" ${ARGN})
  if(NOT PACK_SYNTAX)
    message(FATAL_ERROR "zel_add_pack(${name}): SYNTAX FILE is required")
  endif()
  if(NOT PACK_DESTINATION)
    set(PACK_DESTINATION ${CMAKE_BINARY_DIR}/packs/${name})
  endif()
  get_filename_component(syntax ${PACK_SYNTAX} ABSOLUTE)
  set(steps
    COMMAND ${CMAKE_COMMAND} -E make_directory
            ${PACK_DESTINATION}/${name} ${PACK_DESTINATION}/korrin_linux
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${syntax} ${PACK_DESTINATION}/${name}.zel)
  foreach(module ${PACK_MODULES})
    list(APPEND steps COMMAND ${CMAKE_COMMAND} -E copy_if_different
         $<TARGET_FILE:${module}> ${PACK_DESTINATION}/${name}/)
  endforeach()
  foreach(module ${PACK_SYNTAX_MODULES})
    list(APPEND steps COMMAND ${CMAKE_COMMAND} -E copy_if_different
         $<TARGET_FILE:${module}> ${PACK_DESTINATION}/korrin_linux/)
  endforeach()
  add_custom_target(${name}_pack ALL ${steps} VERBATIM)
  if(PACK_MODULES OR PACK_SYNTAX_MODULES)
    add_dependencies(${name}_pack ${PACK_MODULES} ${PACK_SYNTAX_MODULES})
  endif()
endfunction()
