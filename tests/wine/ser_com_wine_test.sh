#!/usr/bin/env bash
# The Win32 packet layer and mode switches under Wine against virtual devices:
#
#   ser_com_wine_test.sh <fennix_wine_ser_com_tests.exe> <msm-sim> <work dir>
#
# Starts the virtual devices natively, makes each a COM port of a private Wine
# prefix registered in SERIALCOMM (tools/wine-com) and runs the Windows test
# program, which prints its own GoogleTest summary. Exits 77 (skipped) when the
# Windows build or Wine is missing.
set -u
exe=$1
sim=$2
work=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
winecom=$here/../../tools/wine-com

if [ ! -f "$exe" ] || ! command -v wine >/dev/null 2>&1; then
    echo "ser_com_wine: needs Wine and the MinGW x64 build ($exe); skipped"
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

start_device() { # start_device <name> <msm-sim options...>
    local name=$1
    shift
    "$sim" --dir "$ports" --name "$name" --no-stdin --vanish-ms 200 "$@" >/dev/null 2>&1 &
    sims+=($!)
    for _ in $(seq 100); do [ -e "$ports/$name" ] && return 0; sleep 0.05; done
    echo "ser_com_wine: device $name did not start"
    echo "[  FAILED  ] 1 test, listed below:"
    exit 1
}
start_device switch --mode diag --platform Q6250
start_device inplace --mode diag --platform K7M00
start_device at --mode at

"$winecom" COM3 "$ports/switch" || exit 1
"$winecom" COM4 "$ports/inplace" || exit 1
"$winecom" COM8 "$ports/at" || exit 1

FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.2} \
FENNIX_WINE_SWITCH_PORT=COM3 FENNIX_WINE_INPLACE_PORT=COM4 FENNIX_WINE_AT_PORT=COM8 \
    wine "$exe"
