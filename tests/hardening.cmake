# Tests: hostile input and hostile networks; the fuzz targets in a fuzz build, and their checks over
# every input of the corpora in every other build

# The fuzz targets' seeds are written at build time from the parameter table (read through
# tarvik-table-dump) into the build tree, so that a parameter added or changed never leaves them
# stale; tests/fuzz/corpus keeps what fuzzing found, which no generator makes.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TARVIK_SEEDS ${CMAKE_CURRENT_BINARY_DIR}/fuzz/seeds)
set(seed_generators ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/tables.py ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/make_seeds.py
    ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/make_seeds_files.py)
add_custom_command(OUTPUT ${TARVIK_SEEDS}/stamp
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/make_seeds.py --dump $<TARGET_FILE:tarvik-table-dump>
            --out ${TARVIK_SEEDS}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/make_seeds_files.py
            --dump $<TARGET_FILE:tarvik-table-dump> --out ${TARVIK_SEEDS}
    COMMAND ${CMAKE_COMMAND} -E touch ${TARVIK_SEEDS}/stamp
    DEPENDS tarvik-table-dump ${seed_generators}
    COMMENT "Writing the fuzz targets' seeds from the parameter table"
    VERBATIM)
add_custom_target(fuzz_seeds ALL DEPENDS ${TARVIK_SEEDS}/stamp)

if(TARVIK_FUZZ)
    add_subdirectory(fuzz)
else()
    foreach(target arrival paramfile batch)
        set(library tarvik_ops)
        if(target STREQUAL arrival)
            set(library tarvik_testsupport)
        endif()
        add_executable(replay_${target} fuzz/fuzz_${target}.cpp fuzz/replay.cpp)
        target_link_libraries(replay_${target} PRIVATE ${library})
        add_dependencies(replay_${target} fuzz_seeds)
        add_test(NAME replay_${target}
                 COMMAND replay_${target} ${TARVIK_SEEDS}/${target} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${target})
    endforeach()
endif()
tarvik_add_test(tst_hostile SOURCES tst_hostile.cpp)
tarvik_add_test(tst_hostile_net SOURCES tst_hostile_net.cpp LIBS tarvik_ui Qt6::Widgets NET)
tarvik_add_test(tst_hostile_flood SOURCES tst_hostile_flood.cpp LIBS tarvik_simbed NET)
