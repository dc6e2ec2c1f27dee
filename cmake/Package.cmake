# The Debian package: `cpack -G DEB` in the build directory (scripts/package.sh builds and checks
# it). Library dependencies come from the binaries (dpkg-shlibdeps: libpugixml1v5 for the register
# maps; nlohmann-json is headers only); the fonts are the CJK face
# that carries the full-width colon of the program's texts.
set(CPACK_PACKAGE_NAME evbconsole)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}) # all four parts, as the program reports it
set(CPACK_PACKAGE_CONTACT "Corvane evbconsole maintainers <support@corvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop console for an audio-codec evaluation board")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.corvane.example/")
set(CPACK_PACKAGE_INSTALL_DIRECTORY evbconsole)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, python3")
# The summary above is the first line; CPack indents these and marks the empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "evbconsole talks to the evaluation board's microcontroller over a serial
link: it writes and reads the codec's registers in a 16 x 16 grid, picks the
master-clock source, programs the PLL, routes the serial audio ports,
configures the S/PDIF transceiver and sends batches of register writes from
text files and per-chip preset buttons.

The package also contains evbctl, a command-line client for scripts and
test stations, and evbsim, a simulated board on a pseudo-terminal.")
set(CPACK_GENERATOR DEB)
include(CPack)
