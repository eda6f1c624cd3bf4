# Tests: hostile input and hostile networks; the fuzz targets in a fuzz build
if(TARVIK_FUZZ)
    add_subdirectory(fuzz)
endif()
tarvik_add_test(tst_hostile SOURCES tst_hostile.cpp)
