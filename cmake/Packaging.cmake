# Install rules and packages. `cpack -G DEB` (in the build folder) makes one
# Debian package per component; `cpack -G TGZ` makes the updater's tarball.
# Layout and reasons: docs/integration.md.
set(MORVEX_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_NAME morvex)
set(CPACK_PACKAGE_VENDOR "Morvex")
set(CPACK_PACKAGE_CONTACT "Morvex desktop team <desktop@morvex.example>")
set(CPACK_PACKAGE_VERSION ${MORVEX_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

# The viewer's About line takes its version from the generated header.
if(TARGET cvglance_core)
  target_include_directories(cvglance_core PUBLIC ${CMAKE_BINARY_DIR}/generated)
endif()

# The programs' version notes (cmake/Version.cmake).
if(TARGET MorvexUpdate)
  morvex_version_note(MorvexUpdate DESCRIPTION "Morvex自动升级程序V${MORVEX_VERSION_SHORT}")
endif()
if(TARGET CvGlance)
  morvex_version_note(CvGlance DESCRIPTION "CvGlance ${MORVEX_VERSION_SHORT} 版")
endif()
morvex_version_note(morvex-publish DESCRIPTION "morvex-publish ${MORVEX_VERSION}")
morvex_version_note(Haltwick DESCRIPTION "Haltwick ${MORVEX_VERSION}")

# The updater and its window module side by side: the program loads the module
# from its own folder. morvex-install-updater copies both into a product.
set(MORVEX_UPDATE_DIR lib/morvex-update)
set(MORVEX_VIEWER_DIR lib/cvglance)
if(TARGET MorvexUpdate)
  install(TARGETS MorvexUpdate RUNTIME DESTINATION ${MORVEX_UPDATE_DIR} COMPONENT morvex-update)
  install(TARGETS MorvexUpdateUi LIBRARY DESTINATION ${MORVEX_UPDATE_DIR} COMPONENT morvex-update)
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/package/morvex-install-updater.in
               ${MORVEX_PACKAGE_FILES}/morvex-install-updater @ONLY)
install(PROGRAMS ${MORVEX_PACKAGE_FILES}/morvex-install-updater DESTINATION bin COMPONENT morvex-update)

# The viewer reads res/ and loads libDocvert_u.so beside itself; it finds its
# folder through /proc/self/exe, so /usr/bin/CvGlance can be a symbolic link.
if(TARGET CvGlance)
  install(TARGETS CvGlance RUNTIME DESTINATION ${MORVEX_VIEWER_DIR} COMPONENT cvglance)
  install(FILES ${CMAKE_SOURCE_DIR}/viewer/ui/res/loading.htm DESTINATION ${MORVEX_VIEWER_DIR}/res
          COMPONENT cvglance)
  file(CREATE_LINK ../${MORVEX_VIEWER_DIR}/CvGlance ${MORVEX_PACKAGE_FILES}/CvGlance SYMBOLIC)
  install(FILES ${MORVEX_PACKAGE_FILES}/CvGlance DESTINATION bin COMPONENT cvglance)
endif()
# (Not there when the viewer is left out of the build, MORVEX_BUILD_VIEWER.)
if(TARGET Docvert_u)
  install(TARGETS Docvert_u LIBRARY DESTINATION ${MORVEX_VIEWER_DIR} COMPONENT cvglance)
  # The library starts its resident converter from its own folder.
  install(TARGETS docvert_service RUNTIME DESTINATION ${MORVEX_VIEWER_DIR} COMPONENT cvglance)
endif()

install(TARGETS morvex-publish RUNTIME DESTINATION bin COMPONENT morvex-publish)
install(TARGETS Haltwick RUNTIME DESTINATION bin COMPONENT haltwick)

# What Debian wants in every package: its copyright and its changelog.
string(TIMESTAMP MORVEX_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(MORVEX_PACKAGES morvex-update cvglance morvex-publish haltwick)
configure_file(${CMAKE_SOURCE_DIR}/cmake/package/copyright.in ${MORVEX_PACKAGE_FILES}/copyright @ONLY)
foreach(MORVEX_PACKAGE ${MORVEX_PACKAGES})
  set(doc ${MORVEX_PACKAGE_FILES}/doc/${MORVEX_PACKAGE})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/package/changelog.in ${doc}/changelog @ONLY)
  # Compressed the way Debian expects: best compression, no name or time stamp.
  execute_process(COMMAND gzip -9 -n -f -k ${doc}/changelog RESULT_VARIABLE gzipped)
  if(NOT gzipped EQUAL 0)
    message(FATAL_ERROR "cannot compress ${doc}/changelog")
  endif()
  install(FILES ${MORVEX_PACKAGE_FILES}/copyright ${doc}/changelog.gz
          DESTINATION share/doc/${MORVEX_PACKAGE} COMPONENT ${MORVEX_PACKAGE})
endforeach()

# A manual page for every command in /usr/bin.
foreach(page morvex-install-updater:morvex-update CvGlance:cvglance morvex-publish:morvex-publish
             Haltwick:haltwick)
  string(REPLACE ":" ";" page ${page})
  list(GET page 0 name)
  list(GET page 1 component)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/package/man/${name}.1.in ${MORVEX_PACKAGE_FILES}/man/${name}.1 @ONLY)
  execute_process(COMMAND gzip -9 -n -f -k ${MORVEX_PACKAGE_FILES}/man/${name}.1 RESULT_VARIABLE gzipped)
  if(NOT gzipped EQUAL 0)
    message(FATAL_ERROR "cannot compress the manual page ${name}.1")
  endif()
  install(FILES ${MORVEX_PACKAGE_FILES}/man/${name}.1.gz DESTINATION share/man/man1 COMPONENT ${component})
endforeach()

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${MORVEX_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries each package's binaries link become dependencies through
# dpkg-shlibdeps, run by cmake/package/CPackOptions.cmake on the files below.
# (CPack's own CPACK_DEBIAN_PACKAGE_SHLIBDEPS would also add an ldconfig call
# to the maintainer scripts for every shared object below /usr/lib/<folder>;
# our plug-ins are private, and packages without scripts install anywhere.)
set(CPACK_MORVEX_SHLIBDEPS_FILES_morvex-update ${CMAKE_BINARY_DIR}/bin/MorvexUpdate
    ${CMAKE_BINARY_DIR}/bin/libMorvexUpdateUi.so)
set(CPACK_MORVEX_SHLIBDEPS_FILES_cvglance ${CMAKE_BINARY_DIR}/bin/CvGlance ${CMAKE_BINARY_DIR}/bin/libDocvert_u.so
    ${CMAKE_BINARY_DIR}/bin/docvert-service)
set(CPACK_MORVEX_SHLIBDEPS_FILES_morvex-publish ${CMAKE_BINARY_DIR}/bin/morvex-publish)
set(CPACK_MORVEX_SHLIBDEPS_FILES_haltwick ${CMAKE_BINARY_DIR}/bin/Haltwick)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_MORVEX-UPDATE_PACKAGE_NAME morvex-update)
set(CPACK_DEBIAN_MORVEX-UPDATE_PACKAGE_DEPENDS "xdg-utils")
set(CPACK_DEBIAN_MORVEX-UPDATE_PACKAGE_RECOMMENDS "haltwick")
set(CPACK_COMPONENT_MORVEX-UPDATE_DESCRIPTION "automatic updater for Morvex products
MorvexUpdate checks a product's installation against the release on the
product's FTP server and, when an update is due, stops the product, installs
the update all or nothing and starts the product again.

morvex-install-updater copies the updater into a product's folder.")
set(CPACK_DEBIAN_CVGLANCE_PACKAGE_NAME cvglance)
# LibreOffice converts Word documents; wvHtml and antiword are the fallbacks.
set(CPACK_DEBIAN_CVGLANCE_PACKAGE_DEPENDS
    "libreoffice-writer-nogui | libreoffice-writer, fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_CVGLANCE_PACKAGE_RECOMMENDS "wv, antiword")
set(CPACK_COMPONENT_CVGLANCE_DESCRIPTION "resume viewer for Morvex products
CvGlance downloads one resume over FTP, converts Word and MHT documents to
HTML and shows the result read-only.")
set(CPACK_DEBIAN_MORVEX-PUBLISH_PACKAGE_NAME morvex-publish)
set(CPACK_COMPONENT_MORVEX-PUBLISH_DESCRIPTION "publishing tool for Morvex product updates
morvex-publish writes the server manifest and the update archive of a
release, and the installed manifest of an installation.")
set(CPACK_DEBIAN_HALTWICK_PACKAGE_NAME haltwick)
set(CPACK_COMPONENT_HALTWICK_DESCRIPTION "process control for Morvex products
Haltwick stops and starts a product's programs for the updater, for products
that do not bring their own.")
set(CPACK_COMPONENTS_ALL ${MORVEX_PACKAGES})

# The tarball carries the updater only (see cmake/package/CPackOptions.cmake).
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/package/CPackOptions.cmake)
set(CPACK_GENERATOR DEB TGZ)
include(CPack)
