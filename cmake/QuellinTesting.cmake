# quellin_add_test(NAME SOURCES ... LIBS ...) builds one gtest executable and
# registers its cases with CTest.  Test data lives in the module's
# tests/data/ folder.  NO_GTEST_MAIN: the LIBS bring their own main (the Qt
# tests start a QApplication first).  RESOURCE_LOCK: cases that must not run
# beside other tests holding the same lock (for example UDP port 514).
# PROGRAMS: the cases run the built programs against their peers; the
# sanitizer build leaves them out (the default suite runs them), so that it
# stays on the libraries' own tests and the fuzz corpora.
function(quellin_add_test name)
  cmake_parse_arguments(ARG "NO_GTEST_MAIN;PROGRAMS" "RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  if(ARG_PROGRAMS AND QUELLIN_SANITIZE)
    add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
  else()
    add_executable(${name} ${ARG_SOURCES})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quellin_testing GTest::gtest GTest::gmock)
  target_precompile_headers(${name} REUSE_FROM quellin_testing)
  if(ARG_LIBS MATCHES "(_gui|quellin_qt|Qt6::)")
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTOUIC ON)
  endif()
  target_compile_options(${name} PRIVATE -fPIC)
  if(NOT ARG_NO_GTEST_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE
    QUELLIN_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data"
    QUELLIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUELLIN_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  set(properties TIMEOUT 300)
  if(ARG_RESOURCE_LOCK)
    list(APPEND properties RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  if(NOT (ARG_PROGRAMS AND QUELLIN_SANITIZE))
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
  endif()
endfunction()
