# The layers of the program, enforced by the build. A part exports its headers not through the
# source tree but through a folder of its own in the build tree, which holds links to the
# headers the part lists and nothing else; a part sees the headers of itself and of the parts it
# links, so an include that runs upward or sideways is not found and the file does not build.
#
#   velmora_part(<target> [INTERNAL <header>...])
#
# Call it after the target's sources are all listed. Headers named INTERNAL (paths relative to
# the project root) are seen by the part itself only.
function(velmora_part target)
  cmake_parse_arguments(ARG "" "" "INTERNAL" ${ARGN})
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  set(exported ${CMAKE_BINARY_DIR}/parts/${target}/exported)
  set(internal ${CMAKE_BINARY_DIR}/parts/${target}/internal)
  file(REMOVE_RECURSE ${CMAKE_BINARY_DIR}/parts/${target})
  set(unused_internal ${ARG_INTERNAL})
  foreach(source IN LISTS sources)
    if(NOT source MATCHES "\\.h$")
      continue()
    endif()
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir} NORMALIZE OUTPUT_VARIABLE absolute)
    cmake_path(RELATIVE_PATH absolute BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE relative)
    if(relative IN_LIST ARG_INTERNAL)
      set(stage ${internal})
      list(REMOVE_ITEM unused_internal ${relative})
    else()
      set(stage ${exported})
    endif()
    cmake_path(GET relative PARENT_PATH parent)
    file(MAKE_DIRECTORY ${stage}/${parent})
    file(CREATE_LINK ${absolute} ${stage}/${relative} SYMBOLIC)
  endforeach()
  if(unused_internal)
    message(FATAL_ERROR "${target}: INTERNAL names headers that are not among its sources: ${unused_internal}")
  endif()
  target_include_directories(${target} PUBLIC ${exported})
  if(ARG_INTERNAL)
    target_include_directories(${target} PRIVATE ${internal})
  endif()
endfunction()
