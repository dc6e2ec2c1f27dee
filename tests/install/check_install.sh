#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR under a prefix of its own and checks what a user gets:
# the layout, the validators of the desktop entry, metainfo and man pages (where installed), and
# that the installed evbconsole, started from another directory, finds its presets and documents.
#   check_install.sh BUILD_DIR
set -uo pipefail
BUILD=$1
PREFIX=/opt/evbconsole-check
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/evb-install-XXXXXX")
trap 'rm -rf "$ROOT"' EXIT
passed=0
failed=0
check() { # WHAT COMMAND...
    local what=$1
    shift
    if "$@" >"$ROOT/out" 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL $what"
        sed 's/^/    /' "$ROOT/out"
    fi
}
has() { command -v "$1" >/dev/null; }

if ! DESTDIR="$ROOT/dest" cmake --install "$BUILD" --prefix "$PREFIX" >"$ROOT/install.log" 2>&1; then
    cat "$ROOT/install.log"
    echo "0 passed, 1 failed"
    exit 1
fi
P="$ROOT/dest$PREFIX"
ID=net.corvane.evbconsole

for f in bin/evbconsole bin/evbctl bin/evbsim; do check "$f is a program" test -x "$P/$f"; done
for f in share/evbconsole/CorvaneEQ.TXT share/evbconsole/Corvane/Corvane_A1.TXT \
    share/evbconsole/KV1120/KV1120_PowerDown.TXT share/evbconsole/examples/example.txt \
    "share/evbconsole/Corvane EvbSoftware user manual.pdf" share/evbconsole/CorvaneEQ.PNG \
    share/applications/$ID.desktop share/metainfo/$ID.metainfo.xml \
    share/icons/hicolor/scalable/apps/$ID.svg share/bash-completion/completions/evbctl \
    share/man/man1/evbconsole.1.gz share/man/man1/evbctl.1.gz share/man/man1/evbsim.1.gz; do
    check "$f is installed" test -s "$P/$f"
done
for n in 16 32 48 64 128 256; do check "${n}x${n} icon" test -s "$P/share/icons/hicolor/${n}x${n}/apps/$ID.png"; done
for f in make_presets.py expectations.txt; do check "$f stays in the source tree" test ! -e "$P/share/evbconsole/$f"; done
check "the manual is a PDF of several pages" bash -c "head -c 5 \"$P/share/evbconsole/Corvane EvbSoftware user manual.pdf\" | grep -q %PDF &&
    [ \$(grep -ac '/Type /Page\b' \"$P/share/evbconsole/Corvane EvbSoftware user manual.pdf\") -ge 4 ]"
check "the completion parses" bash -n "$P/share/bash-completion/completions/evbctl"

if has desktop-file-validate; then check "desktop-file-validate" desktop-file-validate "$P/share/applications/$ID.desktop"; fi
if has appstreamcli; then check "appstreamcli validate" appstreamcli validate --no-net "$P/share/metainfo/$ID.metainfo.xml"; fi
if has man; then
    for page in evbconsole evbctl evbsim; do
        # man prints its warnings on stderr; any line there fails the page.
        check "man --warnings $page" bash -c "LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l \"$P/share/man/man1/$page.1.gz\" 2>&1 >/dev/null | (! grep .)"
    done
fi

# From another directory, with no copies in the working directory: everything resolves below
# the installed prefix (not in the build tree, not in another installation).
mkdir -p "$ROOT/elsewhere"
cd "$ROOT/elsewhere"
check "evbconsole --show-files finds everything" env QT_QPA_PLATFORM=offscreen "$P/bin/evbconsole" --show-files
QT_QPA_PLATFORM=offscreen "$P/bin/evbconsole" --show-files >"$ROOT/files" 2>&1
check "presets and documents come from the installed prefix" bash -c "[ \$(wc -l <\"$ROOT/files\") -eq 3 ] &&
    ! grep -v -F \"	$P/share/evbconsole/\" \"$ROOT/files\""
check "the installed evbctl runs" "$P/bin/evbctl" --simulate --timeout 3000 info
check "evbctl --chip finds the installed register map" bash -c "\"$P/bin/evbctl\" --chip KV2440 regmap show \
    \"$P/share/evbconsole/regmaps/KV2440.regmap.json\" >/dev/null && \"$P/bin/evbctl\" --chip kv2440 --simulate read ADC_VOL"
check "the installed evbctl.py drives the installed evbctl" env -u EVBCTL PATH=/nonexistent "$(python3 -c "import sys; print(sys.executable)")" -c "
import sys; sys.path.insert(0, '$P/share/evbconsole/python'); import evbctl
assert evbctl.find_evbctl() == '$P/bin/evbctl'
with evbctl.Session(options=['--simulate']) as s: pass"
check "the station example is installed" test -x "$P/share/evbconsole/python/examples/station.py"
cat "$ROOT/files"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
