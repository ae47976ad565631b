include(GoogleTest)
find_package(GTest REQUIRED)

# morvex_add_test(NAME <target> LABEL unit|integration SOURCES ... LIBS ...)
# Builds one GoogleTest program and registers each of its tests with CTest under
# the label, so that `ctest -L unit` runs the fast suite only.
function(morvex_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} morvex_test_support GTest::gtest GTest::gtest_main morvex_warnings)
  target_compile_definitions(${T_NAME} PRIVATE
    MORVEX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    MORVEX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
