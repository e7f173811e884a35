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
add_executable(classfile_instrument_tree ${PROJECT_SOURCE_DIR}/tests/classfile/instrument_tree.cpp)
target_link_libraries(classfile_instrument_tree PRIVATE classfile)
set(CLASSFILE_JDK25 "/usr/lib/jvm/temurin-25-jdk-amd64" CACHE PATH
  "JDK 25 for the corpus and end-to-end tests (skipped where absent)")
set(CLASSFILE_CORPUS_EVERY 4 CACHE STRING "Corpus test: every Nth class of the runtime image")
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING AND CMAKE_SIZEOF_VOID_P EQUAL 8
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  add_test(NAME classfile_corpus
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/classfile/run_corpus.sh
      $<TARGET_FILE:classfile_instrument_tree> ${CMAKE_BINARY_DIR}/classfile-corpus
      ${CCOVER_TARGET_JDK} ${CLASSFILE_JDK25} ${CLASSFILE_CORPUS_EVERY})
  set_tests_properties(classfile_corpus PROPERTIES TIMEOUT 600)
endif()
