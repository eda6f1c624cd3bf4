# Tests: sim
