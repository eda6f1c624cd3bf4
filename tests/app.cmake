# Tests: app
