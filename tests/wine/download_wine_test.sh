#!/usr/bin/env bash
# A whole download by the Windows build under Wine, through Fennix.dll, against
# a virtual device in download mode behind a Wine COM port:
#
#   download_wine_test.sh <fennix_wine_download_tests.exe> <msm-sim> <work dir>
#
# The Windows program prints its own GoogleTest summary; afterwards every file
# it flashed must be in the device, byte for byte (the device writes what it
# was given into FENNIX_SIM_FLASH_DIR). Exits 77 (skipped) when the Windows
# build or Wine is missing.
set -u
exe=$1
sim=$2
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"
wine_suite_begin download_wine "$exe" "$3"
ports=$work/ports
files=$work/files
flash=$work/flash
rm -rf "$ports" "$files" "$flash"
mkdir -p "$ports" "$files" "$flash"
trap wine_stop_devices EXIT

wine_start_device dl FENNIX_SIM_FLASH_DIR="$flash" --mode download --vanish-ms 200
wine_wait_device dl || wine_fail "device did not start"
"$winecom" COM8 "$ports/dl" || wine_fail "cannot make COM8"

# Fennix.dll sits next to the program.
(cd "$files" && FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.2} FENNIX_WAIT_SCALE=${FENNIX_WAIT_SCALE:-1} FENNIX_WINE_DL_PORT=COM8 wine "$exe")
rc=$?
[ $rc = 0 ] || exit $rc

same() { cmp -s "$1" "$2" || wine_fail "$(basename "$2") differs from what the device holds ($(basename "$1"))"; }
same "$flash/programmer.bin" "$files/programmer.expected"
same "$flash/partition.bin" "$files/partition.mbn"
same "$flash/image-2.bin" "$files/qcsblhd_cfgdata.mbn"
same "$flash/image-3.bin" "$files/qcsbl.mbn"
same "$flash/image-4.bin" "$files/oemsbl.mbn"
same "$flash/image-4.hdr" "$files/oemsblhd.mbn"
same "$flash/image-5.bin" "$files/amss.mbn"
same "$flash/image-5.hdr" "$files/amsshd.mbn"
same "$flash/image-9.bin" "$files/cefs.mbn"
exit 0
