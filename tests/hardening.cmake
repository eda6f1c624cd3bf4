# Tests: hostile input and hostile networks; the fuzz targets in a fuzz build
if(TARVIK_FUZZ)
    add_subdirectory(fuzz)
endif()
tarvik_add_test(tst_hostile SOURCES tst_hostile.cpp)
tarvik_add_test(tst_hostile_net SOURCES tst_hostile_net.cpp LIBS tarvik_ui Qt6::Widgets NET)
tarvik_add_test(tst_hostile_flood SOURCES tst_hostile_flood.cpp LIBS tarvik_simbed NET)
