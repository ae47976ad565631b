# Read by cpack for each generator. The tarball is for teams without Debian
# packages: the updater alone, as bin/ and lib/morvex-update/ under one folder.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL morvex-update)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/")
  set(CPACK_ARCHIVE_MORVEX-UPDATE_FILE_NAME "morvex-update-${CPACK_PACKAGE_VERSION}-Linux")
endif()
