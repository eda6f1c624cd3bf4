# Tests: module simulator and the end-to-end test bed

# The bed: tarvik-sim processes in the test's namespace, a wire listener, the real window.
add_library(tarvik_simbed STATIC support/netlab.cpp support/netlab.h support/simbed.cpp support/simbed.h
    support/soak.cpp support/soak.h)
target_link_libraries(tarvik_simbed PUBLIC tarvik_testsupport tarvik_ui tarvik_simcore Qt6::Widgets Qt6::Network Qt6::Test)
target_compile_definitions(tarvik_simbed PRIVATE TARVIK_SIM_PATH="$<TARGET_FILE:tarvik-sim>")
add_dependencies(tarvik_simbed tarvik-sim)

tarvik_add_test(tst_sim SOURCES tst_sim.cpp LIBS tarvik_simcore)
# The README and the man page are checked against the tables: they are read from the source tree.
target_compile_definitions(tst_sim PRIVATE TARVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
tarvik_add_test(tst_sim_net SOURCES tst_sim_net.cpp LIBS tarvik_simbed NET)
tarvik_add_test(tst_e2e_scan SOURCES tst_e2e_scan.cpp LIBS tarvik_simbed NET)
tarvik_add_test(tst_e2e_read SOURCES tst_e2e_read.cpp LIBS tarvik_simbed NET)
target_compile_definitions(tst_e2e_read PRIVATE TARVIK_CLI_PATH="$<TARGET_FILE:tarvik-cli>")
add_dependencies(tst_e2e_read tarvik-cli)
tarvik_add_test(tst_e2e_write SOURCES tst_e2e_write.cpp LIBS tarvik_simbed NET)

# tarvik-cli's engine reading simulated modules round after round, in the test's own process.
add_library(tarvik_clisoak STATIC support/clisoak.cpp support/clisoak.h)
target_link_libraries(tarvik_clisoak PUBLIC tarvik_cli tarvik_simbed)

tarvik_add_test(tst_cli SOURCES tst_cli.cpp LIBS tarvik_clisoak NET)
target_compile_definitions(tst_cli PRIVATE TARVIK_CLI_PATH="$<TARGET_FILE:tarvik-cli>")
add_dependencies(tst_cli tarvik-cli)
tarvik_add_test(tst_e2e_cards SOURCES tst_e2e_cards.cpp LIBS tarvik_simbed NET)
target_compile_definitions(tst_e2e_cards PRIVATE TARVIK_CLI_PATH="$<TARGET_FILE:tarvik-cli>")
add_dependencies(tst_e2e_cards tarvik-cli)

# A capture of a real read, opened with tshark and the Wireshark dissector (skipped without tshark).
tarvik_add_test(tst_trace SOURCES tst_trace.cpp LIBS tarvik_simbed NET)
target_compile_definitions(tst_trace PRIVATE TARVIK_CLI_PATH="$<TARGET_FILE:tarvik-cli>"
                                             TARVIK_DISSECTOR_PATH="${TARVIK_DISSECTOR}")
add_dependencies(tst_trace tarvik-cli tarvik_lua)

# tarvik-cli doctor in module networks of its own, one cause of silence per row (nft for firewalls).
tarvik_add_test(tst_doctor SOURCES tst_doctor.cpp LIBS tarvik_simbed NET)
target_compile_definitions(tst_doctor PRIVATE TARVIK_CLI_PATH="$<TARGET_FILE:tarvik-cli>")
add_dependencies(tst_doctor tarvik-cli tarvik-sim)
