# Run by CPack on the staged files before it builds the package: compresses
# every manual page the way Debian policy asks (gzip -9n).

file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(file MATCHES "/man/man[1-9]/[^/]+\\.[1-9]$")
    execute_process(COMMAND ${CPACK_GZIP_EXECUTABLE} -9nf ${file}
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "gzip failed on ${file}")
    endif()
  endif()
endforeach()
