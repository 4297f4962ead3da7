# The one version of this build: project(MirelandsUpdate VERSION ...) in the
# top-level CMakeLists.txt. Whatever links mrl_version gets the generated
# header mrl_version.h: the programs answer --version from it and the Windows
# binaries' VERSIONINFO resources read it.
foreach(part MAJOR MINOR PATCH TWEAK)
  set(MRL_VERSION_${part} "${PROJECT_VERSION_${part}}")
  if(MRL_VERSION_${part} STREQUAL "")
    set(MRL_VERSION_${part} 0)
  endif()
endforeach()
set(MRL_VERSION_QUAD
    "${MRL_VERSION_MAJOR}.${MRL_VERSION_MINOR}.${MRL_VERSION_PATCH}.${MRL_VERSION_TWEAK}")
set(MRL_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/mrl_version.h.in ${MRL_GENERATED_DIR}/mrl_version.h @ONLY)

add_library(mrl_version INTERFACE)
target_include_directories(mrl_version INTERFACE ${MRL_GENERATED_DIR})


# mrl_version_resource(TARGET RC): TARGET's resource script RC reads the
# header; windres reports no header dependencies, so name the one that changes.
function(mrl_version_resource target rc)
  target_link_libraries(${target} PRIVATE mrl_version)
  set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS
                              ${MRL_GENERATED_DIR}/mrl_version.h)
endfunction()
