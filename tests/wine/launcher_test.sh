#!/usr/bin/env bash
# Quillon.exe under Wine, end to end: the registry reads, the window search,
# the 10 s wait and the shell start of a stand-in connection manager, and the
# disk enumeration's diagnostic line where no modem disk exists.
#
#   launcher_test.sh <Quillon.exe> <stand-in manager .exe> <work dir>
#
# Runs in a private Wine prefix below the work dir. HKLM\HARDWARE is volatile
# in Wine, so one persistent wineserver keeps the serial map values for the
# whole run; it is shut down at the end. Prints a GoogleTest-style summary.
set -u
quillon=$(readlink -f "$1")
standin=$(readlink -f "$2")
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"
wine_suite=quillon_wine_launcher
wine_work_folder "$3"

serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
modem_key='HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_0abc&Pid_1234&MI_02'
manager_key='HKCU\SOFTWARE\HSPA modem'
modem_value='\Device\QCUSB_COM7_2'
foreign_value='\Device\QCUSB_COM9_2'

manager_dir="$work/HSPA modem"
manager=$manager_dir/Manager.exe
starts_file=$manager.starts
stop_file=$manager.stop
out=$work/quillon.out

passed=0
failed=()
quillon_pid=

now() { printf '%s' "${EPOCHREALTIME/./}" | cut -c1-13; }  # milliseconds
regcmd() { wine reg "$@" >/dev/null 2>&1; }
starts() { if [ -f "$starts_file" ]; then grep -c '^started' "$starts_file"; else echo 0; fi; }
wait_for_starts() { # wait_for_starts <count> <seconds>: 0 once reached
    local deadline=$(( $(now) + $2 * 1000 ))
    while [ "$(now)" -lt "$deadline" ]; do
        [ "$(starts)" -ge "$1" ] && return 0
        sleep 0.1
    done
    return 1
}
stop_manager() {
    touch "$stop_file"
    local i
    for i in $(seq 100); do [ -e "$stop_file" ] || return 0; sleep 0.1; done
    return 1
}
result() { # result <name> <0|1> [detail]
    if [ "$2" = 0 ]; then
        echo "[       OK ] QuillonWine.$1"
        passed=$((passed + 1))
        result_passed "QuillonWine.$1"
    else
        echo "[  FAILED  ] QuillonWine.$1${3:+ ($3)}"
        failed+=("QuillonWine.$1")
        result_failed "QuillonWine.$1" "${3:-}"
    fi
}
cleanup() {
    [ -n "$quillon_pid" ] && kill "$quillon_pid" 2>/dev/null
    [ -e "$manager" ] && touch "$stop_file"
    wineserver -k 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT

# ---------------------------------------------------------------- prefix
# The null display driver gives windows without an X server.
wine_boot_prefix 'HKCU\Software\Wine\Drivers' Graphics null .launcher-ready
wineserver -p

mkdir -p "$manager_dir"
cp "$standin" "$manager"
rm -f "$starts_file" "$stop_file" "$out"
regcmd delete "$manager_key" /f
regcmd delete "$modem_key" /f
regcmd delete "$serialcomm" /v "$modem_value" /f
regcmd delete "$serialcomm" /v "$foreign_value" /f

# The modem's interface 2 had COM7 in one socket and COM5 in another.
regcmd add "$modem_key\\6&2b1f8a3&0&0002\\Device Parameters" /v PortName /d COM5 /f
regcmd add "$modem_key\\6&3c2d9b4&0&0002\\Device Parameters" /v PortName /d COM7 /f
# Another device on the same driver, present throughout.
regcmd add "$serialcomm" /v "$foreign_value" /d COM9 /f

echo "[==========] Running Quillon.exe under Wine"

# ---------------------------------------------------------------- start
regcmd add "$manager_key" /v Version /d 1.0 /f
t0=$(now)
timeout 60 wine "$quillon" >/dev/null 2>&1
rc=$?
elapsed=$(( $(now) - t0 ))
[ "$rc" = 0 ] && [ "$elapsed" -lt 20000 ]
result MissingInstallPathValueEndsTheProgramWithZero $? "exit $rc after ${elapsed} ms"

regcmd add "$manager_key" /v InstallPath /d "$(winepath -w "$manager")" /f
wine "$quillon" >"$out" 2>"$work/quillon.err" &
quillon_pid=$!

# ---------------------------------------------------------------- port absent
sleep 3
lines=$(grep -ao 'SetupDiEnumDeviceInterfaces failed: [^[:cntrl:]]\+' "$out" | wc -l)
[ "$lines" -ge 2 ] && ! grep -aq 'Opened the device' "$out"
result NoModemDiskReportsTheListsEndEachPass $? "$lines lines: $(head -c 200 "$out")"
[ "$(starts)" = 0 ] && kill -0 "$quillon_pid" 2>/dev/null
result NothingStartedWhileOnlyAForeignPortIsListed $? "$(starts) starts"

# ---------------------------------------------------------------- port appears
regcmd add "$serialcomm" /v "$modem_value" /d COM7 /f
t0=$(now)
wait_for_starts 1 30
delay=$(( $(now) - t0 ))
[ "$(starts)" = 1 ] && [ "$delay" -ge 9500 ] && [ "$delay" -le 25000 ] && grep -q 'window=1' "$starts_file"
result ManagerStartedOnceAboutTenSecondsAfterThePortAppears $? "$(starts) starts after ${delay} ms"

# ------------------------------------------------ replug while the manager runs
regcmd delete "$serialcomm" /v "$modem_value" /f
sleep 2.5
regcmd add "$serialcomm" /v "$modem_value" /d COM7 /f
sleep 12
[ "$(starts)" = 1 ]
result NoSecondStartWhileTheManagerWindowExists $? "$(starts) starts"

# ----------------------------------------- the manager closes: the replug counts
stop_manager
t0=$(now)
wait_for_starts 2 30
delay=$(( $(now) - t0 ))
sleep 1
[ "$(starts)" = 2 ] && [ "$delay" -ge 9500 ] && [ "$delay" -le 25000 ]
result ManagerStartedOnceMoreAfterThePortWasRemovedAndAdded $? "$(starts) starts after ${delay} ms"

# ---------------------------------------------------------------- summary
stop_manager
kill "$quillon_pid" 2>/dev/null
wait "$quillon_pid" 2>/dev/null
quillon_pid=
regcmd delete "$serialcomm" /v "$modem_value" /f
regcmd delete "$serialcomm" /v "$foreign_value" /f

write_results QuillonWine
if [ ${#failed[@]} = 0 ]; then
    echo "[  PASSED  ] $passed tests."
    exit 0
fi
echo "[  PASSED  ] $passed tests."
echo "[  FAILED  ] ${#failed[@]} tests, listed below:"
for name in "${failed[@]}"; do echo "[  FAILED  ] $name"; done
echo "--- Quillon output:"
head -c 2000 "$out"
exit 1
