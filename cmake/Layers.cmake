# The layers of the program, bottom to top; each may use only the layers before it:
#   common       portable helpers (JSON, UTF-8/16, hashing, built-in values)
#   platform     OS operations behind small interfaces, with the posix/ or win32/ back end
#   translations locale choice, the compiled-in tables, lookup and formatting
#   pipeline     the worker's steps and the reporter they talk through
#   app          the window, its events, the view model and the runner of pipeline runs
#
# ombrel_add_layer(<layer> SOURCES <file>... [LINK <library>...] [ALSO <folder>...])
# makes the static library ombrel_<layer>, linked to the layer just below it. Its include root
# (build/layer-roots/<layer>) holds links to its own folder, to the folders of the layers below
# and to the ALSO folders (data such as resources/) only, so an include that climbs up fails to
# compile instead of quietly bending the design.

set(OMBREL_LAYERS common platform translations pipeline app)

function(ombrel_add_layer layer)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LINK;ALSO")
  list(FIND OMBREL_LAYERS ${layer} index)
  if(index LESS 0)
    message(FATAL_ERROR "ombrel_add_layer: ${layer} is not one of ${OMBREL_LAYERS}")
  endif()
  set(root ${CMAKE_BINARY_DIR}/layer-roots/${layer})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(i RANGE ${index})
    list(GET OMBREL_LAYERS ${i} visible)
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${visible} ${root}/${visible} SYMBOLIC)
  endforeach()
  foreach(folder ${arg_ALSO})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()

  add_library(ombrel_${layer} STATIC ${arg_SOURCES})
  target_include_directories(ombrel_${layer} PUBLIC ${root})
  if(index GREATER 0)
    math(EXPR below "${index} - 1")
    list(GET OMBREL_LAYERS ${below} below_layer)
    target_link_libraries(ombrel_${layer} PUBLIC ombrel_${below_layer})
  endif()
  if(arg_LINK)
    target_link_libraries(ombrel_${layer} PUBLIC ${arg_LINK})
  endif()
endfunction()

# ombrel_use_layers(<target> <layer> [ALSO <folder>...])
# For a tool, test or benchmark above the layers: links ombrel_<layer> and gives <target> an
# include root of its own with that layer, the ones below it and the ALSO folders. Everything is
# included through links of the same kind, so one header never has two paths.
function(ombrel_use_layers target layer)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "ALSO")
  list(FIND OMBREL_LAYERS ${layer} index)
  if(index LESS 0)
    message(FATAL_ERROR "ombrel_use_layers: ${layer} is not one of ${OMBREL_LAYERS}")
  endif()
  set(root ${CMAKE_BINARY_DIR}/layer-roots/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(i RANGE ${index})
    list(GET OMBREL_LAYERS ${i} visible)
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${visible} ${root}/${visible} SYMBOLIC)
  endforeach()
  foreach(folder ${arg_ALSO})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ombrel_${layer})
endfunction()
