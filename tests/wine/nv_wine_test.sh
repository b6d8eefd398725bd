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
work=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
winecom=$here/../../tools/wine-com

if [ ! -f "$exe" ] || ! command -v wine >/dev/null 2>&1; then
    echo "nv_wine: needs Wine and the MinGW x64 build ($exe); skipped"
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
rm -rf "$ports" "$files"
mkdir -p "$ports" "$files"

fail() {
    echo "nv_wine: $*"
    echo "[  FAILED  ] 1 test, listed below:"
    exit 1
}

store=$work/device.nv
cat >"$store" <<'STORE'
item 550 plain 0102030405
item 20 indexed a1a2a3
item 21 indexed b1 b2 b3
item 30 status 5
STORE

sim_pid=
cleanup() {
    "$winecom" --stop
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
}
trap cleanup EXIT

FENNIX_SIM_NV_STORE=$store "$sim" --dir "$ports" --name nv --mode diag --no-stdin >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$ports/nv" ] && break; sleep 0.05; done
[ -e "$ports/nv" ] || fail "device did not start"
"$winecom" COM9 "$ports/nv" || fail "cannot make COM9"

(cd "$files" && FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.2} FENNIX_WINE_NV_PORT=COM9 wine "$exe")
rc=$?
[ $rc = 0 ] || exit $rc

# The restore's values are in the device's memory, as the device wrote it back.
grep -q '^item 550 plain f0efeeed' "$store" || fail "restored item 550 not in the device's store"
grep -q '^item 21 indexed 0108' "$store" || fail "restored item 21 not in the device's store"
exit 0
