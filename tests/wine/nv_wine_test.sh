#!/usr/bin/env bash
# NV backup and restore of the Windows build under Wine against a virtual
# device whose NV memory is preloaded from a store file:
#
#   nv_wine_test.sh <fennix_wine_nv_tests.exe> <msm-sim> <work dir>
#
# The Windows test program prints its own GoogleTest summary; afterwards the
# device's store file must hold the values the program restored. Exits 77
# (skipped) when the Windows build or Wine is missing.
set -u
exe=$1
sim=$2
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"
wine_suite_begin nv_wine "$exe" "$3"
ports=$work/ports
files=$work/files
rm -rf "$ports" "$files"
mkdir -p "$ports" "$files"

store=$work/device.nv
cat >"$store" <<'STORE'
item 550 plain 0102030405
item 20 indexed a1a2a3
item 21 indexed b1 b2 b3
item 30 status 5
STORE

trap wine_stop_devices EXIT

wine_start_device nv FENNIX_SIM_NV_STORE="$store" --mode diag
wine_wait_device nv || wine_fail "device did not start"
"$winecom" COM9 "$ports/nv" || wine_fail "cannot make COM9"

(cd "$files" && FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.2} FENNIX_WAIT_SCALE=${FENNIX_WAIT_SCALE:-1} FENNIX_WINE_NV_PORT=COM9 wine "$exe")
rc=$?
[ $rc = 0 ] || exit $rc

# The restore's values are in the device's memory, as the device wrote it back.
grep -q '^item 550 plain f0efeeed' "$store" || wine_fail "restored item 550 not in the device's store"
grep -q '^item 21 indexed 0108' "$store" || wine_fail "restored item 21 not in the device's store"
exit 0
