include(GoogleTest)
find_package(GTest REQUIRED)

# morvex_add_test(NAME <target> LABEL unit|integration [NEEDS display|threads|hostile|slow ...]
#                 [TIMEOUT s] [RESOURCE_LOCK name] SOURCES ... LIBS ...)
# Builds one GoogleTest program and registers each of its tests with CTest under
# the label and what the program needs, so that `ctest -L unit` runs the fast
# suite only, `ctest -L threads` the tests in which threads meet, and
# `ctest -LE display` everything that does without an X display:
#   display  opens windows on $DISPLAY (runs under xvfb-run, one at a time)
#   threads  threads meet in the code under test: the thread sanitizer's run
#   hostile  feeds the code what an attacker would send
#   slow     minutes rather than seconds (offices, crash-point loops, large archives)
# MORVEX_TEST_NEEDS_<target>, when set, adds to NEEDS.
function(morvex_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS;NEEDS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  list(APPEND T_NEEDS ${MORVEX_TEST_NEEDS_${T_NAME}})
  foreach(need ${T_NEEDS})
    if(NOT need MATCHES "^(display|threads|hostile|slow)$")
      message(FATAL_ERROR "morvex_add_test(${T_NAME}): unknown need '${need}'")
    endif()
  endforeach()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} morvex_test_support GTest::gtest GTest::gtest_main morvex_warnings)
  target_compile_definitions(${T_NAME} PRIVATE
    MORVEX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    MORVEX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set(T_PROPERTIES TIMEOUT ${T_TIMEOUT})
  if("display" IN_LIST T_NEEDS AND NOT T_RESOURCE_LOCK)
    # One X server for the whole run: windows of two programs would meet.
    set(T_RESOURCE_LOCK x_display)
  endif()
  if(T_RESOURCE_LOCK)
    list(APPEND T_PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${T_NAME} PROPERTIES ${T_PROPERTIES} DISCOVERY_TIMEOUT 60)
  morvex_label_discovered_tests(${T_NAME} ${T_LABEL} ${T_NEEDS})
endfunction()

# morvex_label_discovered_tests(<target> <label>...): gives every test that
# gtest_discover_tests finds in <target> the labels. Its PROPERTIES cannot
# carry a list, so the labels are set by a script that CTest runs after the
# discovery's own.
function(morvex_label_discovered_tests target)
  set(labels "${ARGN}")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
  file(CONFIGURE OUTPUT ${script} CONTENT [[
foreach(morvex_test IN LISTS @target@_TESTS)
  set_tests_properties("${morvex_test}" PROPERTIES LABELS "@labels@")
endforeach()
]] @ONLY)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
