# How every CTest test runs, wherever its CMakeLists.txt lives (tests/, and tests/package, which
# cmake/Install.cmake adds): headless and in a fixed locale, so that a plain `ctest` passes on a
# machine without a display and with no variables set.

# In the sanitizer build every finding ends the test with a failure; leaks are checked at exit.
set(KINTO_TEST_ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8")
if(KINTO_SANITIZE)
    list(APPEND KINTO_TEST_ENVIRONMENT
        "ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/lsan.supp:print_suppressions=0"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()

# Gives an added test the environment above and a time limit.
function(kinto_test_properties name)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${KINTO_TEST_ENVIRONMENT}" TIMEOUT 300)
endfunction()

# A Qt Test executable made of ${name}.cpp, linked with the test support and ${ARGN}.
function(kinto_add_test name)
    add_executable(${name} ${name}.cpp)
    target_link_libraries(${name} PRIVATE kinto_testsupport ${ARGN} Qt6::Test)
    add_test(NAME ${name} COMMAND ${name})
    kinto_test_properties(${name})
endfunction()
