# Helpers shared by every component's build file.

find_package(GTest)
find_package(benchmark QUIET)

# CI sets TAVIK_REQUIRE_ALL so that a missing test dependency fails the
# configure step instead of silently dropping the folders that need it.
if(TAVIK_REQUIRE_ALL)
  foreach(dep GTest benchmark X11 Qt6)
    if(NOT ${dep}_FOUND)
      message(FATAL_ERROR "TAVIK_REQUIRE_ALL: ${dep} was not found (run scripts/deps.sh)")
    endif()
  endforeach()
endif()

# tavik_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [UNIT])
# One small test executable per unit; CTest runs it whole. UNIT marks a test
# that touches nothing machine-wide (no shared sections, processes, X display):
# it is labelled "unit" and runs in parallel with anything. Every other test is
# labelled "e2e" and holds the "machine" resource lock, so end-to-end tests run
# one at a time (they share section names, the mouse map and block numbers as
# real processes do). A test whose every case calls GTEST_SKIP shows as skipped
# (cmake/gtest_skip.sh); a failing test is never reported as skipped.
function(tavik_add_test)
  cmake_parse_arguments(T "UNIT" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${T_NAME} COMMAND ${CMAKE_SOURCE_DIR}/cmake/gtest_skip.sh $<TARGET_FILE:${T_NAME}>)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(T_ENV "TAVIK_BIN_DIR=${CMAKE_BINARY_DIR}/bin;TAVIK_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(TAVIK_SANITIZE)
    # Inherited by the programs a test starts, too.
    list(APPEND T_ENV "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/lsan.supp")
  elseif(TAVIK_TSAN)
    # Inherited by the programs a test starts, too: every process writes its
    # reports to a file of its own (<test>.<pid>), and scripts/test.sh fails
    # the run when any was written (a race in a helper process does not fail
    # its test by itself).
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/tsan-reports)
    list(APPEND T_ENV "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/tsan.supp:second_deadlock_stack=1:log_path=${CMAKE_BINARY_DIR}/tsan-reports/${T_NAME}")
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${T_ENV}"
    SKIP_RETURN_CODE 77)
  if(T_UNIT)
    list(APPEND T_LABELS unit)
  else()
    list(APPEND T_LABELS e2e)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK machine)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
endfunction()

# tavik_add_bench(NAME name SOURCES ... [LIBS ...])
function(tavik_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# tavik_add_fuzzer(NAME name SOURCES ... [LIBS ...] [CORPUS dir])
# Always builds a replay program (runs LLVMFuzzerTestOneInput over every file
# of the corpus, as a CTest test); with TAVIK_FUZZ also a libFuzzer binary
# named <name>_fuzz.
function(tavik_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME}_replay ${F_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/common/replay_main.cpp)
  target_link_libraries(${F_NAME}_replay PRIVATE ${F_LIBS} Threads::Threads)
  set_target_properties(${F_NAME}_replay PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  if(F_CORPUS AND BUILD_TESTING)
    add_test(NAME ${F_NAME}_corpus COMMAND ${F_NAME}_replay ${F_CORPUS})
    set_tests_properties(${F_NAME}_corpus PROPERTIES LABELS unit)
  endif()
  if(TAVIK_FUZZ)
    add_executable(${F_NAME}_fuzz ${F_SOURCES})
    target_compile_options(${F_NAME}_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${F_NAME}_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${F_NAME}_fuzz PRIVATE ${F_LIBS} Threads::Threads)
    set_target_properties(${F_NAME}_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  endif()
endfunction()

# tavik_add_plugin(NAME Padrik SOURCES ... [LIBS ...])
# A driver plug-in: a loadable module named exactly NAME.so (no "lib"), found
# by the controller from the Windows-style name "NAME.dll".
function(tavik_add_plugin)
  cmake_parse_arguments(P "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_library(${P_NAME} MODULE ${P_SOURCES})
  target_link_libraries(${P_NAME} PRIVATE ${P_LIBS})
  set_target_properties(${P_NAME} PROPERTIES PREFIX "" OUTPUT_NAME ${P_NAME})
  target_link_options(${P_NAME} PRIVATE -Wl,--no-undefined)
endfunction()
