# vekta_add_test(<name> LABEL unit|integration|e2e|soak SOURCES ... LIBS ... [TIMEOUT <seconds>]
#                [RESOURCE_LOCK <lock> [LOCKED_CASES <gtest filter>]] [NOT_ON_WINDOWS <gtest pattern>...])
# One GoogleTest executable, registered test by test so one case can be run alone with ctest -R. The
# tests are named <name>.<Suite>.<Case>, so ctest -R <name> runs one program here as on Windows.
# RESOURCE_LOCK: a ctest lock its tests hold while they run (for what other programs use too).
# LOCKED_CASES: only the cases this filter matches hold the lock; the others run beside anything.
# Label soak: left out of every test preset but soak.
# NOT_ON_WINDOWS: cases the Windows build leaves out (say why where the test is added).
function(vekta_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT;RESOURCE_LOCK;LOCKED_CASES" "SOURCES;LIBS;NOT_ON_WINDOWS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE vekta_options GTest::gtest GTest::gtest_main GTest::gmock ${T_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  if(WIN32)
    # Beside the DLLs they load, and one ctest test per program: listing the cases means one more
    # start of Wine per program, and a program started per case would be slower still.
    set(filter "")
    if(T_NOT_ON_WINDOWS)
      list(JOIN T_NOT_ON_WINDOWS ":" excluded)
      set(filter "--gtest_filter=-${excluded}")
    endif()
    add_test(NAME ${name} COMMAND ${name} ${filter} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
    if(T_RESOURCE_LOCK)  # LOCKED_CASES or not: the one test is the whole program
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
    endif()
    return()
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tests)
  set(properties LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  set(discovery DISCOVERY_TIMEOUT 60 TEST_PREFIX ${name}. WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  if(T_RESOURCE_LOCK AND T_LOCKED_CASES)
    # The program is listed twice: the matching cases with the lock, the rest without.
    gtest_discover_tests(${name} ${discovery} TEST_FILTER ${T_LOCKED_CASES}
      PROPERTIES ${properties} RESOURCE_LOCK ${T_RESOURCE_LOCK})
    gtest_discover_tests(${name} ${discovery} TEST_FILTER -${T_LOCKED_CASES} PROPERTIES ${properties})
  elseif(T_RESOURCE_LOCK)
    gtest_discover_tests(${name} ${discovery} PROPERTIES ${properties} RESOURCE_LOCK ${T_RESOURCE_LOCK})
  else()
    gtest_discover_tests(${name} ${discovery} PROPERTIES ${properties})
  endif()
endfunction()
