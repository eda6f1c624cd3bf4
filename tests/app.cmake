# Tests: window, log, start-up and shutdown, endpoint
tarvik_add_test(tst_messagelog SOURCES tst_messagelog.cpp)
tarvik_add_test(tst_mainform SOURCES tst_mainform.cpp LIBS tarvik_ui Qt6::Widgets NET)
# The fields' widths once more on a screen scaled to 150 %.
add_test(NAME tst_mainform_scaled COMMAND tst_mainform fieldWidths)
set_tests_properties(tst_mainform_scaled PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=1.5"
                     RESOURCE_LOCK udp_ports)
tarvik_add_test(tst_endpoint SOURCES tst_endpoint.cpp LIBS tarvik_ui Qt6::Widgets NET)
