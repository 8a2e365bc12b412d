# Helpers that register tests, fuzz targets and their umbrella targets.
#
#   qel_add_unit_test(name SOURCES ... LIBS ...)
#       GoogleTest or Qt Test executable without network namespaces; label
#       "unit". Built by the target qel_unit_tests and run under the sanitizers.
#   qel_add_lan_test(name SOURCES ... LIBS ... [TIMEOUT s] [LONG])
#       End-to-end test run inside the workstation namespace of the virtual
#       LAN; label "lan". LONG tests get the suffix "_long" and are run alone.
#   qel_add_fuzzer(name SOURCES ... LIBS ...)
#       libFuzzer target when QEL_ENABLE_FUZZERS is on; otherwise the same
#       code built with a main that replays the corpus, so it keeps compiling.

find_package(GTest REQUIRED)

add_custom_target(qel_unit_tests)
add_custom_target(qel_fuzzers)

set(QEL_FUZZ_CORPUS_ROOT ${CMAKE_SOURCE_DIR}/fuzz/corpus)

# Undefined behaviour ends a fuzz run as a crash, as in the sanitizer build:
# by default UBSan only prints and the fuzzer carries on, so such a fault
# would never fail CI. For every target, since the libraries hold the code
# under test.
if(QEL_ENABLE_FUZZERS)
  add_compile_options(-fno-sanitize-recover=undefined)
endif()

# Environment of every test. Qt 5.15's offscreen platform never frees its
# screen objects, which the suppressions name; full stacks let them match
# through Qt's libraries (used by the sanitizer build only).
set(QEL_TEST_ENV
  "QT_QPA_PLATFORM=offscreen"
  "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/support/lsan-qt-offscreen.supp"
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

function(qel_add_unit_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE qel_common ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "${QEL_TEST_ENV}")
  add_dependencies(qel_unit_tests ${name})
endfunction()

function(qel_add_lan_test name)
  cmake_parse_arguments(ARG "LONG" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE qel_common ${ARG_LIBS})
  set(test_name ${name})
  if(ARG_LONG)
    set(test_name ${name}_long)
  endif()
  add_test(NAME ${test_name}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/virtual-lan exec ws $<TARGET_FILE:${name}>)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${test_name} PROPERTIES LABELS lan TIMEOUT ${ARG_TIMEOUT}
    FIXTURES_REQUIRED virtual_lan RESOURCE_LOCK virtual_lan
    SKIP_RETURN_CODE 77
    ENVIRONMENT "${QEL_TEST_ENV};QEL_SIM=$<TARGET_FILE:qel-device-sim>;QEL_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

function(qel_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(QEL_ENABLE_FUZZERS)
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  else()
    add_executable(${name} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/ReplayMain.cpp)
    add_test(NAME ${name}_replay COMMAND ${name} ${QEL_FUZZ_CORPUS_ROOT}/${name})
    set_tests_properties(${name}_replay PROPERTIES LABELS unit ENVIRONMENT "${QEL_TEST_ENV}")
    add_dependencies(qel_unit_tests ${name})
  endif()
  target_link_libraries(${name} PRIVATE qel_common ${ARG_LIBS})
  add_dependencies(qel_fuzzers ${name})
endfunction()
