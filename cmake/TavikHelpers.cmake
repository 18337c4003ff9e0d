# Helpers shared by every component's build file.

find_package(GTest)
find_package(benchmark QUIET)

# tavik_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# One small test executable per unit; CTest runs it whole.
function(tavik_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "TAVIK_BIN_DIR=${CMAKE_BINARY_DIR}/bin;TAVIK_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
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
