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
work=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
winecom=$here/../../tools/wine-com

if [ ! -f "$exe" ] || ! command -v wine >/dev/null 2>&1; then
    echo "download_wine: needs Wine and the MinGW x64 build ($exe); skipped"
    exit 77
fi
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
mkdir -p "$work"
work=$(cd "$work" && pwd)
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY
ports=$work/ports
files=$work/files
flash=$work/flash
rm -rf "$ports" "$files" "$flash"
mkdir -p "$ports" "$files" "$flash"

fail() {
    echo "download_wine: $*"
    echo "[  FAILED  ] 1 test, listed below:"
    exit 1
}

sim_pid=
cleanup() {
    "$winecom" --stop
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
}
trap cleanup EXIT

FENNIX_SIM_FLASH_DIR=$flash "$sim" --dir "$ports" --name dl --mode download --vanish-ms 200 --no-stdin \
    >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$ports/dl" ] && break; sleep 0.05; done
[ -e "$ports/dl" ] || fail "device did not start"
"$winecom" COM8 "$ports/dl" || fail "cannot make COM8"

# Fennix.dll sits next to the program.
(cd "$files" && FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.2} FENNIX_WINE_DL_PORT=COM8 wine "$exe")
rc=$?
[ $rc = 0 ] || exit $rc

same() { cmp -s "$1" "$2" || fail "$(basename "$2") differs from what the device holds ($(basename "$1"))"; }
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
