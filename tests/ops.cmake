# Tests: protocol tables, frames, reply decoding and the operations, driven through stand-ins
tarvik_add_test(tst_frames SOURCES tst_frames.cpp)
tarvik_add_test(tst_decode SOURCES tst_decode.cpp)
tarvik_add_test(tst_batch SOURCES tst_batch.cpp)
tarvik_add_test(tst_operations_scan SOURCES tst_operations_scan.cpp)
tarvik_add_test(tst_operations_read SOURCES tst_operations_read.cpp)
tarvik_add_test(tst_operations_write SOURCES tst_operations_write.cpp)
tarvik_add_test(tst_operations_defaults_reset SOURCES tst_operations_defaults_reset.cpp)
tarvik_add_test(tst_operations_cards SOURCES tst_operations_cards.cpp)
