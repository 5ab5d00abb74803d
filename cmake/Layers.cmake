# The layers are targets, and a target sees only the headers of what it links.
# Each library publishes its headers, spelled as they are included
# ("link/protocol.h"), in an include root of its own in the build tree; no
# target gets the whole of src/ as an include path. An include from a layer the
# target does not link is then a build error, not a quiet coupling.
function(qelo_publish_headers target)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  foreach(header IN LISTS ARGN)
    cmake_path(ABSOLUTE_PATH header BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} OUTPUT_VARIABLE source)
    cmake_path(RELATIVE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR}/src OUTPUT_VARIABLE spelled)
    cmake_path(GET spelled PARENT_PATH folder)
    file(MAKE_DIRECTORY ${root}/${folder})
    file(CREATE_LINK ${source} ${root}/${spelled} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  elseif(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# The folders of src/ are the layers, declared lowest first in src/CMakeLists.txt
# (qelo_check_layers; folders joined by "+" share a level). Each build first
# checks every source: no include climbs out of its folder ("../"), and a
# quoted include names a declared folder no higher than the file's own.
function(qelo_check_layers)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/src/*.h ${PROJECT_SOURCE_DIR}/src/*.cpp
    ${PROJECT_SOURCE_DIR}/tests/*.h ${PROJECT_SOURCE_DIR}/tests/*.cpp
    ${PROJECT_SOURCE_DIR}/bench/*.h ${PROJECT_SOURCE_DIR}/bench/*.cpp)
  set(stamp ${CMAKE_BINARY_DIR}/layers.checked)
  string(REPLACE ";" "," layers "${ARGN}")
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DLAYERS=${layers} -DROOT=${PROJECT_SOURCE_DIR} -DSTAMP=${stamp}
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake
    DEPENDS ${sources} ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake
    COMMENT "Checking the includes against the layers")
  add_custom_target(qelo_layers ALL DEPENDS ${stamp})
endfunction()
