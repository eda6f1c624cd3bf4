# Tests: ops
