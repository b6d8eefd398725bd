#!/usr/bin/env bash
# The Win32 serial channel under Wine against virtual devices:
#
#   serial_wine_test.sh <fennix_wine_serial_tests.exe> <msm-sim> <work dir>
#
# Starts one virtual device per role, makes each a COM port of a private Wine
# prefix (tools/wine-com) and runs the Windows test program, which prints its
# own GoogleTest summary. Exits 77 (skipped) when the Windows build or Wine is
# missing.
set -u
exe=$1
sim=$2
work=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
winecom=$here/../../tools/wine-com

if [ ! -f "$exe" ] || ! command -v wine >/dev/null 2>&1; then
    echo "serial_wine: needs Wine and the MinGW x64 build ($exe); skipped"
    exit 77
fi
mkdir -p "$work"
work=$(cd "$work" && pwd)
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY
ports=$work/ports
rm -rf "$ports"
mkdir -p "$ports"

sims=()
cleanup() {
    "$winecom" --stop
    local pid
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null; done
}
trap cleanup EXIT

# role name, starting mode
for spec in dl:download diag:diag at:at high:download unlisted:download; do
    "$sim" --dir "$ports" --name "${spec%%:*}" --mode "${spec#*:}" --no-stdin >/dev/null 2>&1 &
    sims+=($!)
done
for role in dl diag at high unlisted; do
    for _ in $(seq 100); do [ -e "$ports/$role" ] && break; sleep 0.05; done
    [ -e "$ports/$role" ] || { echo "serial_wine: device $role did not start"; echo "[  FAILED  ] 1 test, listed below:"; exit 1; }
done

"$winecom" COM5 "$ports/dl" || exit 1
"$winecom" COM6 "$ports/diag" || exit 1
"$winecom" COM7 "$ports/at" || exit 1
"$winecom" COM12 "$ports/high" || exit 1
# Linked as a COM port, but not in SERIALCOMM.
ln -sfn "$ports/unlisted" "$WINEPREFIX/dosdevices/com30"

FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.2} \
FENNIX_WINE_DL_PORT=COM5 FENNIX_WINE_DIAG_PORT=COM6 FENNIX_WINE_AT_PORT=COM7 \
FENNIX_WINE_HIGH_PORT=COM12 FENNIX_WINE_UNLISTED_PORT=COM30 \
    wine "$exe"
