include(GoogleTest)
find_package(GTest REQUIRED)

# morvex_add_test(NAME <target> LABEL unit|integration [TIMEOUT s] [RESOURCE_LOCK name]
#                 SOURCES ... LIBS ...)
# Builds one GoogleTest program and registers each of its tests with CTest under
# the label, so that `ctest -L unit` runs the fast suite only.
function(morvex_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
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
  set(T_PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  if(T_RESOURCE_LOCK)
    list(APPEND T_PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${T_NAME} PROPERTIES ${T_PROPERTIES} DISCOVERY_TIMEOUT 60)
endfunction()
