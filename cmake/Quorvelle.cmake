# quorvelle_library(<target> DIRS <dir>... [EXCLUDE <file>...] [PUBLIC <deps>...] [PRIVATE <deps>...])
#
# One library per source folder. Sources are globbed (non-recursively per listed folder), so adding a
# file needs no CMake edit. A folder without sources yet becomes an INTERFACE library that still carries
# its include path and dependencies.
function(quorvelle_library target)
  cmake_parse_arguments(ARG "" "" "DIRS;EXCLUDE;PUBLIC;PRIVATE" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB found CONFIGURE_DEPENDS
      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.c)
    list(APPEND sources ${found})
  endforeach()
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "/${ex}$")
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_PUBLIC} ${ARG_PRIVATE})
  endif()
endfunction()
