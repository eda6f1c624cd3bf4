# Tests: the Debian package and what it installs (made by cpack from the programs already built;
# skipped where dpkg-dev, file, desktop-file-utils or appstream are missing). Not under the
# sanitizers: scripts/package.sh packs a normal build.
if(NOT TARVIK_SANITIZE)
    add_test(NAME package COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_package.sh ${PROJECT_BINARY_DIR}
                                       ${PROJECT_VERSION})
    set_tests_properties(package PROPERTIES SKIP_RETURN_CODE 77)
endif()
