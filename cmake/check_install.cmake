# Installs the build tree BUILD_DIR (configuration CONFIG) into the scratch
# prefix PREFIX and checks that the program PROGRAM and the manual page
# MANUAL (both relative to PREFIX) are there: the program runs, and the
# page is MANUAL_SOURCE unchanged.  PREFIX is removed afterwards.

cmake_minimum_required(VERSION 3.16)

file(REMOVE_RECURSE "${PREFIX}")
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
          --config ${CONFIG}
  OUTPUT_VARIABLE install_output
  ERROR_VARIABLE install_output
  RESULT_VARIABLE install_status)
if(NOT install_status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${install_output}")
endif()

set(failures "")

if(NOT EXISTS "${PREFIX}/${PROGRAM}")
  string(APPEND failures "${PROGRAM} is not installed\n")
else()
  # Without arguments the program prints its usage and exits with 1.
  execute_process(COMMAND "${PREFIX}/${PROGRAM}"
                  OUTPUT_VARIABLE usage
                  ERROR_VARIABLE errors
                  RESULT_VARIABLE status)
  if(NOT status STREQUAL "1" OR NOT usage MATCHES "^Pouziti: pixtab ")
    string(APPEND failures
           "installed ${PROGRAM} without arguments gave status '${status}', "
           "output '${usage}', errors '${errors}'\n")
  endif()
endif()

if(NOT EXISTS "${PREFIX}/${MANUAL}")
  string(APPEND failures "${MANUAL} is not installed\n")
else()
  file(SHA256 "${PREFIX}/${MANUAL}" installed_hash)
  file(SHA256 "${MANUAL_SOURCE}" source_hash)
  if(NOT installed_hash STREQUAL source_hash)
    string(APPEND failures "installed ${MANUAL} differs from ${MANUAL_SOURCE}\n")
  endif()
endif()

file(REMOVE_RECURSE "${PREFIX}")
if(NOT failures STREQUAL "")
  message(FATAL_ERROR "${failures}")
endif()
