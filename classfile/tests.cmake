# classfile's tests: one GoogleTest binary of pinned-byte tests for each
# rewriting rule (classfile/*_test.cpp).
file(GLOB CLASSFILE_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/classfile/*_test.cpp)
add_executable(classfile_tests ${CLASSFILE_TESTS})
target_compile_options(classfile_tests PRIVATE -O0)
target_link_libraries(classfile_tests PRIVATE classfile GTest::gtest GTest::gtest_main)
add_test(NAME classfile_tests COMMAND classfile_tests)
if(WIN32)
  set_tests_properties(classfile_tests PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
endif()

# The corpus test: a JDK's runtime image (sampled) and Debian jars, instrumented
# and verified by real JVMs (tests/classfile/run_corpus.sh). Native 64-bit
# Linux builds without sanitizers only: it takes about a minute per JDK.
if(NOT WIN32)
  add_executable(classfile_instrument_tree
    ${PROJECT_SOURCE_DIR}/tests/classfile/instrument_tree.cpp)
  target_link_libraries(classfile_instrument_tree PRIVATE classfile)
endif()
set(CLASSFILE_CORPUS_EVERY 4 CACHE STRING "Corpus test: every Nth class of the runtime image")
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING AND CMAKE_SIZEOF_VOID_P EQUAL 8
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  add_test(NAME classfile_corpus
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/classfile/run_corpus.sh
      $<TARGET_FILE:classfile_instrument_tree> ${CMAKE_BINARY_DIR}/classfile-corpus
      ${CCOVER_TARGET_JDK} ${CCOVER_JDK25} ${CLASSFILE_CORPUS_EVERY})
  set_tests_properties(classfile_corpus PROPERTIES TIMEOUT 600)
endif()

# The fuzz target (reader and rewriter) under libFuzzer, ASan and UBSan: built
# by clang with a command of its own, as snp's reader target is.
find_program(CLASSFILE_CLANGXX clang++)
set(CLASSFILE_FUZZ_SECONDS 60 CACHE STRING "Seconds the class-file fuzz test runs (0: none)")
if(CLASSFILE_CLANGXX AND CLASSFILE_FUZZ_SECONDS GREATER 0 AND CMAKE_SYSTEM_NAME STREQUAL "Linux"
   AND NOT CMAKE_CROSSCOMPILING AND CMAKE_SIZEOF_VOID_P EQUAL 8
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize|-m32")
  file(GLOB classfile_fuzz_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/classfile/*.cpp)
  list(FILTER classfile_fuzz_sources EXCLUDE REGEX "_test\\.cpp$")
  set(classfile_fuzz_binary ${CMAKE_BINARY_DIR}/bin/classfile_fuzz)
  set(classfile_fuzz_flags -std=c++20 -O1 -g -fno-omit-frame-pointer
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -fno-exceptions -fno-rtti
    -I${PROJECT_SOURCE_DIR})
  set(classfile_fuzz_objects)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/classfile-fuzz-objects)
  foreach(source ${classfile_fuzz_sources})
    get_filename_component(stem ${source} NAME_WE)
    set(object ${CMAKE_BINARY_DIR}/classfile-fuzz-objects/${stem}.o)
    add_custom_command(OUTPUT ${object}
      COMMAND ${CLASSFILE_CLANGXX} ${classfile_fuzz_flags} -MD -MF ${object}.d -c ${source}
        -o ${object}
      DEPENDS ${source}
      DEPFILE ${object}.d
      COMMENT "Compiling ${stem}.cpp for the class-file fuzz target (clang)"
      VERBATIM)
    list(APPEND classfile_fuzz_objects ${object})
  endforeach()
  add_custom_command(OUTPUT ${classfile_fuzz_binary}
    COMMAND ${CLASSFILE_CLANGXX} -fsanitize=fuzzer,address,undefined ${classfile_fuzz_objects}
      -o ${classfile_fuzz_binary}
    DEPENDS ${classfile_fuzz_objects}
    COMMENT "Linking the class-file fuzz target"
    VERBATIM)
  add_custom_target(classfile_fuzz ALL DEPENDS ${classfile_fuzz_binary})
  add_test(NAME classfile_fuzz
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/classfile/run_fuzz.sh ${classfile_fuzz_binary}
      ${CLASSFILE_FUZZ_SECONDS} ${CMAKE_BINARY_DIR}/classfile-fuzz ${CCOVER_SAMPLES_JAR})
  set_tests_properties(classfile_fuzz PROPERTIES TIMEOUT ${CLASSFILE_FUZZ_SECONDS}0)
endif()
