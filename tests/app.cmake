# Tests: window, log, start-up and shutdown, endpoint
tarvik_add_test(tst_messagelog SOURCES tst_messagelog.cpp)
tarvik_add_test(tst_mainform SOURCES tst_mainform.cpp LIBS tarvik_ui Qt6::Widgets NET)
tarvik_add_test(tst_endpoint SOURCES tst_endpoint.cpp LIBS tarvik_ui Qt6::Widgets NET)

# tarvik's command line and its start-up without a display, run as a program.
add_test(NAME tarvik_command_line
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_command_line.sh $<TARGET_FILE:tarvik> ${PROJECT_VERSION})
set_tests_properties(tarvik_command_line PROPERTIES
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp")
