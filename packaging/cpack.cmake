# The Debian package, made by scripts/package.sh: cpack -G DEB in a build configured with the
# prefix /usr. Its name is tarvik_<version>_<architecture>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvik)
set(CPACK_PACKAGE_VENDOR "Tarvik")
set(CPACK_PACKAGE_CONTACT "Tarvik team <team@tarvik.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool for Tarvik serial-to-Ethernet modules")
# The description's lines are at most 80 characters wide in the package's control file.
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvik网络配置工具 finds Tarvik serial-to-Ethernet modules on the local
network by UDP broadcast, reads each module's 28 parameters (serial line,
Ethernet, display control and four network channels) into its window, writes
them back, restores a module's factory defaults and resets a module so that it
runs. The window is in Chinese.

Also included: tarvik-cli, which does the same for many modules at once and
from scripts, with parameter files; tarvik-sim, simulated modules for trying
the tool without hardware; a firewalld service that opens UDP port 65002, the
port the modules answer to; and a Wireshark dissector for the modules'
protocol, for the captures that tarvik and tarvik-cli write.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies are found by dpkg-shlibdeps; the font that draws the Chinese window is not
# a library. Wayland's Qt platform and Qt's own Chinese texts are welcome where installable.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
include(CPack)
