# MirelandsUpdate.exe: the driver's pieces as a library (the Windows unit
# tests link it too) and the exe around the entry point.
set(driver_dir ${CMAKE_CURRENT_LIST_DIR})

add_library(mrl_driver STATIC
  ${driver_dir}/acquisition.cpp
  ${driver_dir}/app_info.cpp
  ${driver_dir}/application.cpp
  ${driver_dir}/decimal_text.cpp
  ${driver_dir}/discovery.cpp
  ${driver_dir}/install_check.cpp
  ${driver_dir}/patch_library.cpp
  ${driver_dir}/registry_bootstrap.cpp
  ${driver_dir}/run_state.cpp
  ${driver_dir}/silent_mode.cpp
  ${driver_dir}/startup.cpp)
target_link_libraries(mrl_driver PUBLIC mrl_run_state mrl_text mrl_settings mrl_platform user32 gdi32)
# Later parts of the run plug in here as their libraries appear.
foreach(lib mrl_dialogs mrl_packet mrl_gamelink mrl_patchlink)
  if(TARGET ${lib})
    target_link_libraries(mrl_driver PUBLIC ${lib})
  endif()
endforeach()

add_executable(MirelandsUpdate WIN32 ${driver_dir}/main.cpp ${MRL_RESOURCE_FILES})
set_target_properties(MirelandsUpdate PROPERTIES OUTPUT_NAME MirelandsUpdate)
target_link_libraries(MirelandsUpdate PRIVATE mrl_driver)
