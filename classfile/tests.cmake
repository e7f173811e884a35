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
