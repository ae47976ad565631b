# Read by cpack for each generator.

# The tarball is for teams without Debian packages: the updater alone, as bin/
# and lib/morvex-update/ under one folder.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL morvex-update)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/")
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_FILE_NAME "morvex-update-${CPACK_PACKAGE_VERSION}-Linux")
  set(CPACK_ARCHIVE_MORVEX-UPDATE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}")
endif()

# Each package depends on the libraries its binaries link, with the versions
# dpkg-shlibdeps derives from the symbols they use, after the run-time programs
# set in cmake/Packaging.cmake.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(work "${CPACK_PACKAGE_DIRECTORY}/_shlibdeps")
  file(MAKE_DIRECTORY "${work}/debian")
  file(TOUCH "${work}/debian/control")
  foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    set(arguments)
    foreach(file IN LISTS CPACK_MORVEX_SHLIBDEPS_FILES_${component})
      list(APPEND arguments "-e${file}")
    endforeach()
    # The window module uses symbols of the program that loads it; that is no
    # library to depend on, so the warnings about them are left out.
    execute_process(COMMAND dpkg-shlibdeps -O --warnings=0 ${arguments}
      WORKING_DIRECTORY "${work}" RESULT_VARIABLE status OUTPUT_VARIABLE found ERROR_VARIABLE problems)
    if(NOT status EQUAL 0 OR NOT found MATCHES "shlibs:Depends=([^\n]*)")
      message(FATAL_ERROR "dpkg-shlibdeps failed for ${component}: ${problems}")
    endif()
    string(TOUPPER "${component}" upper)
    if(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS)
      set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS}, ${CMAKE_MATCH_1}")
    else()
      set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  file(REMOVE_RECURSE "${work}")
endif()
