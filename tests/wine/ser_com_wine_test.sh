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
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"
wine_suite_begin ser_com_wine "$exe" "$3"
ports=$work/ports
rm -rf "$ports"
mkdir -p "$ports"
trap wine_stop_devices EXIT

start_device() { # start_device <name> <msm-sim options...>
    local name=$1
    shift
    wine_start_device "$name" --vanish-ms 200 "$@"
    wine_wait_device "$name" || wine_fail "device $name did not start"
}
start_device switch --mode diag --platform Q6250
start_device inplace --mode diag --platform K7M00
start_device at --mode at

"$winecom" COM3 "$ports/switch" || exit 1
"$winecom" COM4 "$ports/inplace" || exit 1
"$winecom" COM8 "$ports/at" || exit 1

# The real timings: the download switch of a DIAG device waits out its pauses
# under Wine on a machine that runs four suites at once, and a fifth of them
# was seen to end before the switched device answered (about 13 s in all).
FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-1} FENNIX_WAIT_SCALE=${FENNIX_WAIT_SCALE:-1} \
FENNIX_WINE_SWITCH_PORT=COM3 FENNIX_WINE_INPLACE_PORT=COM4 FENNIX_WINE_AT_PORT=COM8 \
    wine "$exe"
