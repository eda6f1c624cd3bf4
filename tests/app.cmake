# Tests: window, log, start-up and shutdown, endpoint
tarvik_add_test(tst_messagelog SOURCES tst_messagelog.cpp)
tarvik_add_test(tst_mainform SOURCES tst_mainform.cpp LIBS tarvik_ui Qt6::Widgets NET)
# The fields' widths once more on a screen scaled to 150 %.
add_test(NAME tst_mainform_scaled COMMAND tst_mainform fieldWidths)
set_tests_properties(tst_mainform_scaled PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=1.5"
                     RESOURCE_LOCK udp_ports SKIP_RETURN_CODE 77)
tarvik_add_test(tst_endpoint SOURCES tst_endpoint.cpp LIBS tarvik_ui Qt6::Widgets NET)

# tarvik's command line and its start-up without a display, run as a program.
add_test(NAME tarvik_command_line
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_command_line.sh $<TARGET_FILE:tarvik> ${PROJECT_VERSION})
set_tests_properties(tarvik_command_line PROPERTIES
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp")

# Every text of the window and the log has a finished English translation: lupdate over the sources,
# into a copy of the translation file, leaves nothing unfinished.
add_test(NAME translations_complete
         COMMAND sh -c "cp \"$1\" \"$2\" && \"$0\" -silent -no-obsolete -locations none src/link src/ops src/app -ts \"$2\" && ! grep -n -B2 'type=\"unfinished\"' \"$2\""
                 $<TARGET_FILE:Qt6::lupdate> ${PROJECT_SOURCE_DIR}/i18n/tarvik_en.ts ${CMAKE_CURRENT_BINARY_DIR}/tarvik_en.check.ts
         WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
