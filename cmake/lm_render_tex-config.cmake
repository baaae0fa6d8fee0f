# Found by find_package(lm_render_tex CONFIG) in the build of a sibling
# extension. It provides lm_render_tex::headers, an interface target carrying
# the include directory under which "lumo_ui/fast/lmrendertex/lm_render_tex.h"
# resolves. The header includes <Python.h>, so the sibling links Python itself
# (Python_add_library does).
#
# This file is installed in site-packages/lumo_ui/fast/lmrendertex/cmake; the
# include directory is site-packages itself, four levels up.
get_filename_component(lm_render_tex_INCLUDE_DIR "${CMAKE_CURRENT_LIST_DIR}/../../../.." ABSOLUTE)

if(NOT TARGET lm_render_tex::headers)
  add_library(lm_render_tex::headers INTERFACE IMPORTED)
  set_target_properties(lm_render_tex::headers PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${lm_render_tex_INCLUDE_DIR}")
endif()
