# The version lives in one place, the project version: the packages, the
# programs' version texts and their version notes all come from it.
set(MORVEX_VERSION ${PROJECT_VERSION})
set(MORVEX_VERSION_SHORT ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})

configure_file(${CMAKE_CURRENT_LIST_DIR}/morvex_version.h.in
               ${CMAKE_BINARY_DIR}/generated/morvex_version.h @ONLY)

# morvex_version_note(TARGET DESCRIPTION text)
# Gives a program a note section ".note.morvex.version" holding its file version
# and description as text, so that `readelf -p .note.morvex.version PROGRAM` (or
# `readelf -n`, or `strings`) tells which build is installed.
function(morvex_version_note target)
  cmake_parse_arguments(N "" "DESCRIPTION" "" ${ARGN})
  set(MORVEX_NOTE_DESCRIPTION "${N_DESCRIPTION}")
  set(source ${CMAKE_BINARY_DIR}/generated/version_note_${target}.cpp)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version_note.cpp.in ${source} @ONLY)
  target_sources(${target} PRIVATE ${source})
endfunction()
