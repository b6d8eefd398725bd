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
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"
wine_suite_begin serial_wine "$exe" "$3"
ports=$work/ports
rm -rf "$ports"
mkdir -p "$ports"
trap wine_stop_devices EXIT

# role name, starting mode
for spec in dl:download diag:diag at:at high:download unlisted:download; do
    wine_start_device "${spec%%:*}" --mode "${spec#*:}"
done
for role in dl diag at high unlisted; do
    wine_wait_device "$role" || wine_fail "device $role did not start"
done

"$winecom" COM5 "$ports/dl" || exit 1
"$winecom" COM6 "$ports/diag" || exit 1
"$winecom" COM7 "$ports/at" || exit 1
"$winecom" COM12 "$ports/high" || exit 1
# Linked as a COM port, but not in SERIALCOMM.
ln -sfn "$ports/unlisted" "$WINEPREFIX/dosdevices/com30"

FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.2} FENNIX_WAIT_SCALE=${FENNIX_WAIT_SCALE:-1} \
FENNIX_WINE_DL_PORT=COM5 FENNIX_WINE_DIAG_PORT=COM6 FENNIX_WINE_AT_PORT=COM7 \
FENNIX_WINE_HIGH_PORT=COM12 FENNIX_WINE_UNLISTED_PORT=COM30 \
    wine "$exe"
