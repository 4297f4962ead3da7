# The one version of this build: project(MirelandsUpdate VERSION ...) in the
# top-level CMakeLists.txt. It reaches the programs through the generated
# header mrl_version.h (target mrl_version) and the Windows binaries through
# their VERSIONINFO resources.
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

# Every program answers --version from the header; the Windows binaries
# carry it in VERSIONINFO. Attached from here, once every target exists.
foreach(program mkpatch patchapply mkrelease patch_server game_server)
  if(TARGET ${program})
    target_link_libraries(${program} PRIVATE mrl_version)
  endif()
endforeach()

if(WIN32)
  set(header ${MRL_GENERATED_DIR}/mrl_version.h)
  # windres reports no header dependencies: name the one that changes.
  function(mrl_version_resource target rc)
    target_link_libraries(${target} PRIVATE mrl_version)
    set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS ${header})
  endfunction()

  function(mrl_collect_targets dir out)
    get_property(found DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub ${subdirs})
      mrl_collect_targets(${sub} more)
      list(APPEND found ${more})
    endforeach()
    set(${out} ${found} PARENT_SCOPE)
  endfunction()

  # The updater's resources (src/resources/version.rc, also in the programs
  # and tests that show its dialogs) and every PATCHW32.dll of the build
  # (mrl_add_patchw32: the shipped one and those trusting other keys).
  mrl_collect_targets(${PROJECT_SOURCE_DIR} targets)
  set(dll_rc ${PROJECT_SOURCE_DIR}/packaging/patchw32_version.rc)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    get_target_property(name ${target} OUTPUT_NAME)
    get_target_property(sources ${target} SOURCES)
    list(FILTER sources INCLUDE REGEX "/version\\.rc$")
    if(sources)
      mrl_version_resource(${target} "${sources}")
    endif()
    if(type STREQUAL "SHARED_LIBRARY" AND name STREQUAL "PATCHW32")
      target_sources(${target} PRIVATE ${dll_rc})
      mrl_version_resource(${target} ${dll_rc})
    endif()
  endforeach()
endif()
