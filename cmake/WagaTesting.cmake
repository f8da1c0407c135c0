# waga_add_gtest(NAME <target> SOURCES <files...> LIBS <libs...> [LABELS <labels...>]
#                [NO_MAIN] [TIMEOUT <seconds>])
# Builds one GoogleTest program and registers each of its test cases with ctest.
# Test cases are listed when ctest runs, so building never runs test programs.
find_package(GTest REQUIRED)
include(GoogleTest)

function(waga_add_gtest)
  cmake_parse_arguments(T "NO_MAIN" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock)
  if(NOT T_NO_MAIN)
    target_link_libraries(${T_NAME} PRIVATE GTest::gmock_main)
  endif()
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_LABELS)
    set(T_LABELS ${T_NAME})  # an empty list would make the next property name a label
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT})
  # The properties whose values are lists are set after discovery, on the list of cases it found:
  # given to discovery's PROPERTIES, a list is split, its second item read as a property's name
  # and every property after it shifted (two labels, or the environment's second variable).
  set(environment
    "QT_QPA_PLATFORM=offscreen;WAGA_SOURCE_DIR=${PROJECT_SOURCE_DIR};WAGA_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  set(properties_file "${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_properties.cmake")
  file(WRITE "${properties_file}"
    "if(${T_NAME}_TESTS)\n"
    "  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES LABELS [==[${T_LABELS}]==]\n"
    "    ENVIRONMENT [==[${environment}]==])\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${properties_file}")
endfunction()
