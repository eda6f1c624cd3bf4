# Tests: window, log, start-up and shutdown, endpoint
tarvik_add_test(tst_messagelog SOURCES tst_messagelog.cpp)
tarvik_add_test(tst_mainform SOURCES tst_mainform.cpp LIBS tarvik_ui Qt6::Widgets NET)
tarvik_add_test(tst_endpoint SOURCES tst_endpoint.cpp LIBS tarvik_ui Qt6::Widgets NET)
