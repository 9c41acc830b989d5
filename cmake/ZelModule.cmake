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
