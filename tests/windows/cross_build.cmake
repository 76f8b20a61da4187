# SPDX-License-Identifier: MIT
# cmake -D SOURCE_DIR=... -D BINARY_DIR=... -D GENERATOR=... -P cross_build.cmake
# Configures windows/ for mingw-w64 (again, so a changed toolchain or source list is seen) and
# builds it; the build is incremental between runs.
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/windows -B ${BINARY_DIR} -G ${GENERATOR}
          -D CMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
          -D CMAKE_BUILD_TYPE=RelWithDebInfo
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --parallel 2
                COMMAND_ERROR_IS_FATAL ANY)
