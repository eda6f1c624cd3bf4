# Toolchain for Windows x86_64 programs built on Debian with its MinGW-w64 GCC, posix thread model
# (std::thread and std::mutex of Qt's and our code need it; the win32 variants lack them).
#
#   cmake --preset windows -DTARVIK_QT_PREFIX=<Qt for Windows>        (build/windows, with this file)
#
# TARVIK_QT_PREFIX: a Qt 6 built for Windows (scripts/windows-qt.sh makes one); its host tools
# (moc, rcc, uic, lrelease) are Debian's own, which must be of exactly the same Qt version.
# Without it (as when Qt itself is built with this file) only the compilers are set up.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVIK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER /usr/bin/${TARVIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${TARVIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${TARVIK_MINGW_TRIPLE}-windres)
set(CMAKE_AR /usr/bin/${TARVIK_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${TARVIK_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

# Headers, libraries and CMake packages from the MinGW sysroot and Qt for Windows only; programs
# (the compilers, Debian's Qt host tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TARVIK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The same variable reaches the compiler checks' inner projects.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARVIK_QT_PREFIX)
if(TARVIK_QT_PREFIX)
    if(NOT EXISTS "${TARVIK_QT_PREFIX}/lib/cmake/Qt6/Qt6Config.cmake")
        message(FATAL_ERROR "TARVIK_QT_PREFIX=${TARVIK_QT_PREFIX} holds no Qt 6 (lib/cmake/Qt6/Qt6Config.cmake)")
    endif()
    list(APPEND CMAKE_FIND_ROOT_PATH "${TARVIK_QT_PREFIX}")
    list(APPEND CMAKE_PREFIX_PATH "${TARVIK_QT_PREFIX}")
    set(QT_HOST_PATH /usr CACHE PATH "Debian's Qt: the host tools")
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
endif()
