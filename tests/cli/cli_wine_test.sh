#!/usr/bin/env bash
# fennix.exe under Wine against a virtual device behind a Wine COM port:
# `fennix.exe ports` lists it, and one flash writes every file into it.
#
#   cli_wine_test.sh <fennix.exe> <msm-sim> <work dir>
#
# Exits 77 (skipped) when the Windows build or Wine is missing.
set -u
exe=$1
sim=$2
source "$(dirname "${BASH_SOURCE[0]}")/../wine/wine_lib.sh"
wine_suite_begin cli_wine "$exe" "$3"
ports=$work/ports images=$work/images flash=$work/flash
rm -rf "$ports" "$images" "$flash"
mkdir -p "$ports" "$images" "$flash"

failures=()
check() { # check <name> <condition...>
    local name=$1; shift
    if "$@"; then
        echo "[       OK ] FennixWine.$name"
        result_passed "FennixWine.$name"
    else
        echo "[  FAILED  ] FennixWine.$name"
        failures+=("$name")
        result_failed "FennixWine.$name"
    fi
}
finish() {
    write_results FennixWine
    if ((${#failures[@]})); then
        echo "[  FAILED  ] ${#failures[@]} tests, listed below:"
        printf '[  FAILED  ] FennixWine.%s\n' "${failures[@]}"
        exit 1
    fi
    echo "[  PASSED  ] 4 tests."
    exit 0
}
trap wine_stop_devices EXIT

# An image set: a programmer in Intel HEX (segment 0x0010) and made-up images.
python3 - "$images" <<'PY'
import os, sys
d = sys.argv[1]
def record(n, address, kind, data):
    body = bytes([n, address >> 8, address & 255, kind]) + data
    return ":" + body.hex().upper() + "%02X" % (-sum(body) & 255) + "\r\n"
program = bytes((i * 7 + 3) & 255 for i in range(6000))
open(os.path.join(d, "programmer.expected"), "wb").write(program)
text = record(2, 0, 4, bytes([0x00, 0x10]))
text += "".join(record(len(program[a:a + 32]), a, 0, program[a:a + 32]) for a in range(0, len(program), 32))
open(os.path.join(d, "NPRG6280.HEX"), "w", newline="").write(text + record(0, 0, 1, b""))
for name, size, seed in [("partition.mbn", 200, 2), ("qcsblhd_cfgdata.mbn", 700, 3), ("qcsbl.mbn", 5000, 4),
                         ("oemsblhd.mbn", 40, 5), ("oemsbl.mbn", 8192, 6), ("amsshd.mbn", 40, 7),
                         ("amss.mbn", 200000, 8), ("cefs.mbn", 3000, 9)]:
    open(os.path.join(d, name), "wb").write(bytes((i * seed + seed) & 255 for i in range(size)))
PY

wine_start_device dl FENNIX_SIM_FLASH_DIR="$flash" --mode download --vanish-ms 200
if ! wine_wait_device dl || ! "$winecom" COM8 "$ports/dl"; then
    echo "cli_wine: the device or its COM port did not come up"
    failures+=(Setup)
    result_failed FennixWine.Setup
    finish
fi

listed=$(wine "$exe" ports 2>&1 | tr -d '\r')
echo "$listed"
check Ports grep -qE '^COM8 +modem' <<<"$listed"

cd "$images"
FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.2} wine "$exe" flash --images 'Z:'"$images" --model 6280 --skip-check \
    --report report.jsonl COM8 >flash.txt 2>&1
rc=$?
tr -d '\r' <flash.txt
same() { cmp -s "$flash/$1" "$images/$2"; }
flashed() {
    [ "$rc" = 0 ] && grep -qE 'COM8 +success' flash.txt && same programmer.bin programmer.expected &&
        same partition.bin partition.mbn && same image-2.bin qcsblhd_cfgdata.mbn && same image-3.bin qcsbl.mbn &&
        same image-4.bin oemsbl.mbn && same image-4.hdr oemsblhd.mbn && same image-5.bin amss.mbn &&
        same image-5.hdr amsshd.mbn && same image-9.bin cefs.mbn &&
        grep -q "\"sha256\":\"$(sha256sum amss.mbn | cut -c1-64)\"" report.jsonl
}
check Flash flashed

# A device announcing a window of 8 and blocks of 4096 bytes over a modelled
# full-speed USB link, flashed with --window auto --block auto.
rm -rf "$flash" && mkdir -p "$flash"
wine_device_stderr=$work/win-device.txt wine_start_device win FENNIX_SIM_FLASH_DIR="$flash" --mode download \
    --vanish-ms 200 --link usb-fs --knob dl.window=8 --knob dl.max-block=4096 --dump
windowed() {
    wine_wait_device win && "$winecom" COM9 "$ports/win" || return 1
    FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.2} wine "$exe" flash --images 'Z:'"$images" --model 6280 --skip-check \
        --window auto --block auto COM9 >windowed.txt 2>&1
    rc=$?
    tr -d '\r' <windowed.txt
    [ "$rc" = 0 ] && grep -qE 'COM9 +success' windowed.txt && same image-5.bin amss.mbn && same image-9.bin cefs.mbn
}
check WindowedFlash windowed
wine_stop_devices
trap - EXIT
grep -E '^stream writes outstanding' "$work/win-device.txt"
check WindowedFlashKeptEightOutstanding grep -qE '^stream writes outstanding at most: 8, largest block: 4096$' \
    "$work/win-device.txt"
finish
