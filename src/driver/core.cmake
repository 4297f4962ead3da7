# The driver's decisions and the readers of its inputs, portable: the updater
# links them, and natively the unit tests do.
set(driver_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(mrl_driver_core STATIC
  ${driver_dir}/decimal_text.cpp
  ${driver_dir}/install_files.cpp
  ${driver_dir}/run_decisions.cpp
  ${driver_dir}/server_answer.cpp
  ${driver_dir}/silent_mode.cpp)
target_link_libraries(mrl_driver_core PUBLIC mrl_run_state mrl_packet mrl_platform)
