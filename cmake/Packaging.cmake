# Packaging: `cpack -G DEB` in the build folder makes pixtab_VERSION_ARCH.deb,
# which installs the program and its manual page under /usr.

set(CPACK_PACKAGE_NAME pixtab)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "write the pixel values of a PNG image as a text table")
set(CPACK_PACKAGE_DESCRIPTION
    "pixtab reads one PNG image and writes a plain-text table of its pixel
values: one line per image row, one token per pixel.  Greyscale and
palette images give zero-padded decimal samples or palette indices;
images with colour or alpha give the bytes of each pixel in hexadecimal.")
set(CPACK_PACKAGE_CONTACT
    "Seed 896abcbc maintainers <maintainers@users.noreply.c-seed-896abcbc.example>")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps derives the run-time dependencies (libpng16-16, libc6,
# libstdc++6, ...) from the program itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# Debian ships manual pages compressed with gzip -9n.  CMake before 3.19
# cannot run a script on the staged files, and then the page stays plain.
find_program(GZIP_EXECUTABLE gzip)
if(GZIP_EXECUTABLE AND CMAKE_VERSION VERSION_GREATER_EQUAL 3.19)
  set(CPACK_GZIP_EXECUTABLE ${GZIP_EXECUTABLE})
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/gzip_man_pages.cmake)
endif()

include(CPack)

if(BUILD_TESTING)
  # Installs into a scratch prefix and checks what lands there.
  add_test(NAME install_puts_program_and_manual
           COMMAND ${CMAKE_COMMAND}
                   -DBUILD_DIR=${PROJECT_BINARY_DIR}
                   -DCONFIG=$<CONFIG>
                   -DPREFIX=${PROJECT_BINARY_DIR}/install-check
                   -DPROGRAM=${CMAKE_INSTALL_BINDIR}/pixtab
                   -DMANUAL=${CMAKE_INSTALL_MANDIR}/man1/pixtab.1
                   -DMANUAL_SOURCE=${PROJECT_SOURCE_DIR}/man/pixtab.1
                   -P ${CMAKE_CURRENT_LIST_DIR}/check_install.cmake)
endif()
