# Tests of the Windows build, run under Wine by scripts/test.sh: the test programs that need no
# Linux process beside them (the operations, reply decoding, frames, the engine and parameter
# files, the window offscreen). ctest starts each through windows/wine.sh.
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine.sh --qt ${TARVIK_QT_PREFIX})

include(ops.cmake)
tarvik_add_test(tst_mainform SOURCES tst_mainform.cpp LIBS tarvik_ui Qt6::Widgets NET)
# The layout at Windows' display scaling of 125 % and 150 %.
foreach(scale 1.25 1.5)
    add_test(NAME tst_mainform_scaled_${scale} COMMAND tst_mainform fieldWidths)
    set_tests_properties(tst_mainform_scaled_${scale} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=${scale}" RESOURCE_LOCK udp_ports SKIP_RETURN_CODE 77)
endforeach()
