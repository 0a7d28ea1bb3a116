# The layers of the program, bottom to top; each may use only the layers before it:
#   common       portable helpers (JSON, UTF-8/16, hashing, built-in values)
#   platform     OS operations behind small interfaces, with the posix/ or win32/ back end
#   translations locale choice, the compiled-in tables, lookup and formatting
#   pipeline     the worker's steps and the reporter they talk through
#   app          the window, its events, the view model and the runner of pipeline runs
#
# Every target gets an include root of its own (build/layer-roots/<name>) that holds links to the
# folders it may use and nothing else, so an include that climbs up fails to compile instead of
# quietly bending the design. All headers are reached through such links, so one header never
# has two paths.

set(OMBREL_LAYERS common platform translations pipeline app)

# ombrel_layer_root(<name> <layer> <folder>...): makes the root <name> with links to <layer>,
# the layers below it and the extra folders; sets ombrel_root and ombrel_layer_index.
function(ombrel_layer_root name layer)
  list(FIND OMBREL_LAYERS ${layer} index)
  if(index LESS 0)
    message(FATAL_ERROR "${layer} is not one of the layers ${OMBREL_LAYERS}")
  endif()
  set(root ${CMAKE_BINARY_DIR}/layer-roots/${name})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  set(folders ${ARGN})
  foreach(i RANGE ${index})
    list(GET OMBREL_LAYERS ${i} visible)
    list(APPEND folders ${visible})
  endforeach()
  foreach(folder ${folders})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  set(ombrel_root ${root} PARENT_SCOPE)
  set(ombrel_layer_index ${index} PARENT_SCOPE)
endfunction()

# ombrel_add_layer(<layer> SOURCES <file>... [LINK <library>...] [ALSO <folder>...])
# The static library ombrel_<layer>, linked to the layer just below it; ALSO names data folders
# (such as resources/) its sources may include.
function(ombrel_add_layer layer)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LINK;ALSO")
  ombrel_layer_root(${layer} ${layer} ${arg_ALSO})
  add_library(ombrel_${layer} STATIC ${arg_SOURCES})
  target_include_directories(ombrel_${layer} PUBLIC ${ombrel_root})
  if(ombrel_layer_index GREATER 0)
    math(EXPR below "${ombrel_layer_index} - 1")
    list(GET OMBREL_LAYERS ${below} below_layer)
    target_link_libraries(ombrel_${layer} PUBLIC ombrel_${below_layer})
  endif()
  if(arg_LINK)
    target_link_libraries(ombrel_${layer} PUBLIC ${arg_LINK})
  endif()
endfunction()

# ombrel_use_layers(<target> <layer> [ALSO <folder>...])
# For a tool, test or benchmark above the layers: links ombrel_<layer> and sees that layer, the
# ones below it and its own ALSO folders.
function(ombrel_use_layers target layer)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "ALSO")
  ombrel_layer_root(${target} ${layer} ${arg_ALSO})
  target_include_directories(${target} PUBLIC ${ombrel_root})
  target_link_libraries(${target} PUBLIC ombrel_${layer})
endfunction()
