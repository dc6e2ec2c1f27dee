#!/usr/bin/env bash
# Builds the Debian package from the build tree (build/ or $BUILD_DIR, configured if it is not),
# checks its control fields and runs lintian when it is installed.
#   scripts/package.sh        ->  $BUILD_DIR/evbconsole_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}

# What packaging needs besides the build's own tools (dpkg-shlibdeps is in dpkg-dev).
need=()
for p in dpkg-dev file lintian; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    BUILD_DIR=$BUILD_DIR scripts/build.sh
else
    cmake --build "$BUILD_DIR" -j"$(nproc)"
fi
# The package holds what cmake --install puts under /usr.
rm -f "$BUILD_DIR"/evbconsole_*.deb
(cd "$BUILD_DIR" && cpack -G DEB -D CPACK_PACKAGING_INSTALL_PREFIX=/usr >cpack.log) || { cat "$BUILD_DIR/cpack.log"; exit 1; }
deb=$(ls "$BUILD_DIR"/evbconsole_*.deb)
echo "package: $deb"

fail=0
field() { dpkg-deb -f "$deb" "$1"; }
expect() { # FIELD PATTERN
    local value
    value=$(field "$1")
    if grep -qE "$2" <<<"$value"; then
        printf '  %-12s %s\n' "$1:" "$(head -1 <<<"$value")"
    else
        echo "  $1: '$value' does not match '$2'"
        fail=1
    fi
}
expect Package '^evbconsole$'
expect Version '^2\.4\.5\.2$'
expect Architecture '^[a-z0-9]+$'
expect Maintainer '<.+@.+>'
expect Section '^electronics$'
expect Depends 'fonts-noto-cjk.*libc6.*libqt6widgets6'
expect Description '^desktop console'
listing=$(dpkg-deb -c "$deb")
for f in ./usr/bin/evbconsole ./usr/bin/evbctl ./usr/bin/evbsim ./usr/share/evbconsole/CorvaneEQ.TXT \
    "./usr/share/evbconsole/Corvane EvbSoftware user manual.pdf" ./usr/share/applications/net.corvane.evbconsole.desktop \
    ./usr/share/evbconsole/python/evbctl.py ./usr/share/evbconsole/python/examples/station.py; do
    grep -qF " $f" <<<"$listing" || { echo "  missing from the package: $f"; fail=1; }
done
[ "$fail" -eq 0 ] || { echo "package control fields: FAILED"; exit 1; }
echo "package control fields: ok"

if command -v lintian >/dev/null; then
    echo "lintian:"
    # Reported, not fatal: the package is built by CPack, not by the Debian tool chain.
    lintian --tag-display-limit 0 --info "$deb" 2>&1 | grep -v "running with root privileges" | sed 's/^/  /' || true
fi
