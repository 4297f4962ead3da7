# patchlib/ copied alone into WORK and configured by the wrapper project of
# tools/bench_patch, natively and for Windows: nothing in it may reach into
# the rest of the tree. cmake -DSOURCE=<top> -DWORK=<dir> -DGENERATOR=<g> -P
file(REMOVE_RECURSE ${WORK})
file(COPY ${SOURCE}/patchlib DESTINATION ${WORK})
foreach(target native windows)
  set(toolchain)
  if(target STREQUAL "windows")
    set(toolchain -DCMAKE_TOOLCHAIN_FILE=${SOURCE}/cmake/toolchain-mingw64.cmake)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE}/tools/bench_patch/wrapper
                          -B ${WORK}/build-${target} -G ${GENERATOR} ${toolchain}
                          -DMRL_PATCHLIB_DIR=${WORK}/patchlib
                  RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed)
    message(FATAL_ERROR "patchlib/ alone does not configure (${target}):\n${out}")
  endif()
endforeach()
