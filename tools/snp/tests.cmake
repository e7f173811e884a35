# snp's tests. Unit tests (tools/snp/*_test.cpp) link the tool's code with the
# agent's objects and the testing runtime, so that they can write real
# snapshots in-process with the agent's document writer; the consumer tests
# (tests/snp/*.sh) run the tool and feed its outputs to genhtml, xmllint,
# Chromium; the fuzz target runs the reader under libFuzzer.

set(SNP_DATA_DIR ${PROJECT_SOURCE_DIR}/tests/data/snp)

# --classes reads class files with classfile/: the fuzz target compiles its
# sources too.
file(GLOB CLASSFILE_LIBRARY_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/classfile/*.cpp)
list(FILTER CLASSFILE_LIBRARY_SOURCES EXCLUDE REGEX "(_test|/fuzz_[a-z_]*|/corpus_[a-z_]*)\\.cpp$")

# Writes fixture snapshots with the agent's document writer.
add_executable(snp_fixture fixture_main.cpp fixture.cpp $<TARGET_OBJECTS:ccover_core>)
target_include_directories(snp_fixture PRIVATE ${PROJECT_SOURCE_DIR} ${CCOVER_JNI_INCLUDES})
target_link_libraries(snp_fixture PRIVATE ccover_support cci)

file(GLOB SNP_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp
  ${PROJECT_SOURCE_DIR}/merge/*_test.cpp)
add_executable(snp_tests ${SNP_UNIT_TESTS} fixture.cpp $<TARGET_OBJECTS:snp_core>
  $<TARGET_OBJECTS:ccover_core>)
target_include_directories(snp_tests PRIVATE ${PROJECT_SOURCE_DIR} ${SNP_THIRD_PARTY_INCLUDE}
  ${CCOVER_JNI_INCLUDES})
target_compile_options(snp_tests PRIVATE ${SNP_FLAGS})
target_compile_definitions(snp_tests PRIVATE SNP_DATA_DIR="${SNP_DATA_DIR}")
target_link_libraries(snp_tests PRIVATE classfile ccover_merge ccover_support cci GTest::gtest
  GTest::gtest_main)
add_test(NAME snp_tests COMMAND snp_tests)
if(WIN32)
  set_tests_properties(snp_tests PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
endif()

# The consumer tests run the Linux tools on the tool's outputs: a native
# build only.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING)
  set(SNP_WORK_DIR ${CMAKE_CURRENT_BINARY_DIR}/work)
  set(SNP_TEST_ENV
    "SNP=$<TARGET_FILE:snp>"
    "SNP_FIXTURE=$<TARGET_FILE:snp_fixture>"
    "SNP_DATA=${SNP_DATA_DIR}"
    "SNP_WORK=${SNP_WORK_DIR}")
  file(GLOB SNP_SCRIPT_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/snp/*_test.sh)
  foreach(script ${SNP_SCRIPT_TESTS})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME snp_${name} COMMAND bash ${script})
    set_tests_properties(snp_${name} PROPERTIES ENVIRONMENT "${SNP_TEST_ENV}" TIMEOUT 300)
  endforeach()
  # The HTML report driven in headless Chromium through playwright-core, which
  # the script installs with npm into the folder the live viewer's test uses.
  add_test(NAME snp_html_browser COMMAND bash ${PROJECT_SOURCE_DIR}/tests/snp/html_browser.sh)
  set_tests_properties(snp_html_browser PROPERTIES
    ENVIRONMENT "${SNP_TEST_ENV};SNP_NODE_DIR=${PROJECT_SOURCE_DIR}/build/live-node"
    TIMEOUT 120 SKIP_RETURN_CODE 77)

  # libFuzzer needs clang; the preset's compiler may be gcc, so the target is
  # built by a command of its own, with ASan and UBSan, from the same sources.
  find_program(SNP_CLANGXX clang++)
  set(SNP_FUZZ_SECONDS 60 CACHE STRING "Seconds the reader fuzz test runs (0: no fuzz test)")
  if(SNP_CLANGXX AND SNP_FUZZ_SECONDS GREATER 0 AND CMAKE_SIZEOF_VOID_P EQUAL 8
     AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize|-m32")
    set(fuzz_sources
      ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_reader.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/snapshot_model.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/figures.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/report_classes.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/text.cpp
      ${PROJECT_SOURCE_DIR}/merge/timestamp.cpp
      ${PROJECT_SOURCE_DIR}/merge/snapshot.cpp
      ${PROJECT_SOURCE_DIR}/merge/merge.cpp
      ${PROJECT_SOURCE_DIR}/merge/class_figures.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/dump.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/lcov.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/jacoco.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/cobertura.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/summary.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/merge.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/memory.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/check.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/class_files.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/compiler_code.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/csv.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/filters.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/inflate.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/report_input.cpp
      ${CMAKE_CURRENT_SOURCE_DIR}/zip_reader.cpp
      ${CLASSFILE_LIBRARY_SOURCES}
      ${PROJECT_SOURCE_DIR}/model/figures.cpp
      ${PROJECT_SOURCE_DIR}/support/reader.cpp
      ${PROJECT_SOURCE_DIR}/platform/posix.cpp
      ${PROJECT_SOURCE_DIR}/platform/process_posix.cpp)
    set(fuzz_binary ${CMAKE_BINARY_DIR}/bin/snp_reader_fuzz)
    set(fuzz_flags -std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
      -fno-sanitize-recover=undefined -I${PROJECT_SOURCE_DIR} -I${SNP_THIRD_PARTY_INCLUDE})
    foreach(dir ${CCOVER_JNI_INCLUDES})
      list(APPEND fuzz_flags -I${dir})
    endforeach()
    # One object per source, with its header dependencies, so that ninja
    # compiles them side by side and again only when they change.
    set(fuzz_objects)
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fuzz)
    foreach(source ${fuzz_sources})
      get_filename_component(stem ${source} NAME_WE)
      get_filename_component(folder ${source} DIRECTORY)
      get_filename_component(folder ${folder} NAME)
      set(object ${CMAKE_CURRENT_BINARY_DIR}/fuzz/${folder}_${stem}.o)
      add_custom_command(OUTPUT ${object}
        COMMAND ${SNP_CLANGXX} ${fuzz_flags} -MD -MF ${object}.d -c ${source} -o ${object}
        DEPENDS ${source}
        DEPFILE ${object}.d
        COMMENT "Compiling ${stem}.cpp for the reader fuzz target (clang)"
        VERBATIM)
      list(APPEND fuzz_objects ${object})
    endforeach()
    add_custom_command(OUTPUT ${fuzz_binary}
      COMMAND ${SNP_CLANGXX} -fsanitize=fuzzer,address,undefined ${fuzz_objects} -o ${fuzz_binary}
      DEPENDS ${fuzz_objects}
      COMMENT "Linking the snapshot reader fuzz target"
      VERBATIM)
    add_custom_target(snp_reader_fuzz ALL DEPENDS ${fuzz_binary})
    add_test(NAME snp_reader_fuzz
      COMMAND bash ${PROJECT_SOURCE_DIR}/tests/snp/run_fuzz.sh ${fuzz_binary} ${SNP_FUZZ_SECONDS})
    set_tests_properties(snp_reader_fuzz PROPERTIES ENVIRONMENT "${SNP_TEST_ENV}"
      TIMEOUT ${SNP_FUZZ_SECONDS}0)
  endif()
endif()
