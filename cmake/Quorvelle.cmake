# quorvelle_library(<target> DIRS <dir>... [EXCLUDE <file>...] [PUBLIC <deps>...] [PRIVATE <deps>...])
#
# One library per source folder. Sources are globbed (non-recursively per listed folder), so adding a
# file needs no CMake edit. A folder without sources yet becomes an INTERFACE library that still carries
# its include path and dependencies.
#
# Each library exports an include root of its own that holds only its own headers, under the spelling
# used everywhere ("platform/Log.h", "DiziZoz/core/Value.h"): a directory in the build tree with a link to
# each header of the listed folders. Code sees the headers of the libraries it links and no others, so an
# include across a dependency that is not declared fails to build.
function(quorvelle_library target)
  cmake_parse_arguments(ARG "" "" "DIRS;EXCLUDE;PUBLIC;PRIVATE" ${ARGN})
  set(sources)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${target})
  file(REMOVE_RECURSE ${root})
  foreach(dir IN LISTS ARG_DIRS)
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR}/${dir} ABSOLUTE)
    file(GLOB found CONFIGURE_DEPENDS ${folder}/*.cpp ${folder}/*.c)
    list(APPEND sources ${found})
    file(GLOB headers CONFIGURE_DEPENDS ${folder}/*.h)
    file(RELATIVE_PATH spelled ${PROJECT_SOURCE_DIR} ${folder})
    file(MAKE_DIRECTORY ${root}/${spelled})
    foreach(header IN LISTS headers)
      get_filename_component(name ${header} NAME)
      file(CREATE_LINK ${header} ${root}/${spelled}/${name} SYMBOLIC)
    endforeach()
  endforeach()
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "/${ex}$")
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${root})
    target_link_libraries(${target} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${root})
    target_link_libraries(${target} INTERFACE ${ARG_PUBLIC} ${ARG_PRIVATE})
  endif()
endfunction()
