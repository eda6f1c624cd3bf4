# What the Windows programs carry besides their code: file properties (VERSIONINFO) and, for the
# window, the icon, made from packaging/tarvik.svg at build time.

set(TARVIK_ICO ${PROJECT_BINARY_DIR}/packaging/windows/tarvik.ico)
add_custom_command(
    OUTPUT ${TARVIK_ICO}
    COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/windows/make-icon.sh ${PROJECT_SOURCE_DIR}/packaging/tarvik.svg ${TARVIK_ICO}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/tarvik.svg ${PROJECT_SOURCE_DIR}/packaging/windows/make-icon.sh
    COMMENT "Icon tarvik.ico from packaging/tarvik.svg")
add_custom_target(tarvik_icon DEPENDS ${TARVIK_ICO})

# tarvik_windows_resources(TARGET DESCRIPTION [ICON]): the target's file properties, and the icon
# (resource IDI_ICON1, which Qt also takes as the windows' icon).
function(tarvik_windows_resources target description)
    cmake_parse_arguments(ARG "ICON" "" "" ${ARGN})
    set(TARVIK_RC_NAME ${target})
    set(TARVIK_RC_FILE ${target}.exe)
    set(TARVIK_RC_DESCRIPTION "${description}")
    set(patch ${PROJECT_VERSION_PATCH})
    if(NOT patch)
        set(patch 0)
    endif()
    set(TARVIK_RC_VERSION "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${patch},0")
    set(TARVIK_RC_ICON "")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    if(ARG_ICON)
        set(TARVIK_RC_ICON "IDI_ICON1 ICON \"${TARVIK_ICO}\"")
        set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${TARVIK_ICO})
        add_dependencies(${target} tarvik_icon)
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
