# MirelandsUpdate.exe: the driver's Win32 shell as a library (the Windows
# unit tests link it too) and the exe around the entry point.
set(driver_dir ${CMAKE_CURRENT_LIST_DIR})

add_library(mrl_driver STATIC
  ${driver_dir}/acquisition.cpp
  ${driver_dir}/app_info.cpp
  ${driver_dir}/application.cpp
  ${driver_dir}/discovery.cpp
  ${driver_dir}/install_check.cpp
  ${driver_dir}/patch_library.cpp
  ${driver_dir}/registry_bootstrap.cpp
  ${driver_dir}/run_end.cpp
  ${driver_dir}/run_state.cpp
  ${driver_dir}/startup.cpp)
target_link_libraries(mrl_driver PUBLIC mrl_driver_core mrl_run_state mrl_text mrl_settings
                                        mrl_dialogs mrl_packet mrl_gamelink mrl_patchlink
                                        mrl_platform user32 gdi32)

add_executable(MirelandsUpdate WIN32 ${driver_dir}/main.cpp ${MRL_RESOURCE_FILES})
set_target_properties(MirelandsUpdate PROPERTIES OUTPUT_NAME MirelandsUpdate)
target_link_libraries(MirelandsUpdate PRIVATE mrl_driver)
