#!/usr/bin/env bash
# Tarnwell.exe under Wine and Xvfb, end to end: eight virtual MSM devices on
# pseudo-terminals registered as COM3..COM10 of a private Wine prefix, the
# operator's steps played by gui_driver.exe from another process.
#
#   gui_end_to_end.sh <Tarnwell.exe> <gui_driver.exe> <native build> <work dir> <screenshot.png>
#
# The device on COM5 (slot 3) refuses to open the AMSS image, so that slot
# ends red while the seven others end grey; the driver saves a picture of
# that and checks its colours. HKLM\HARDWARE is volatile in Wine: one
# persistent wineserver keeps the serial map for the whole run.
# A run cleans up after itself and, first, after an interrupted one (its
# devices, the prefix's server); the prefix and its COM links are reused.
# Prints GoogleTest-style lines (the driver's own, or one failure when the
# stage cannot be set or the saved picture is missing or black).
set -u
# Everything, the Wine server's desktop included, runs on one virtual screen,
# large enough for the whole dialog (1350 x 880 with Wine's fonts).
if [ -z "${TARNWELL_GUI_SCREEN:-}" ]; then
    command -v xvfb-run >/dev/null 2>&1 || { echo "[  FAILED  ] 1 test, listed below:"; echo "no xvfb-run"; exit 1; }
    TARNWELL_GUI_SCREEN=xvfb exec xvfb-run -a -s "-screen 0 1600x1200x24" bash "$0" "$@"
fi
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"
wine_suite=tarnwell_gui
tarnwell=$(readlink -f "$1")
driver=$(readlink -f "$2")
native=$(readlink -f "$3")
work=$4
screenshot=$5
mkdir -p "$work" "$(dirname "$screenshot")"
work=$(readlink -f "$work")
screenshot=$(readlink -f "$(dirname "$screenshot")")/$(basename "$screenshot")

msm_sim=$native/simulator/msm-sim
image_set=$native/tests/console/gui_image_set
ports=(3 4 5 6 7 8 9 10)
failing_port=5
failing_slot=3

wine_environment --display
# Factor of the engine's pauses and time limits; Wine hands the variable on
# to Tarnwell.exe. Real timings by default: eight devices under Wine on a
# busy machine miss the scaled-down reply limits.
export FENNIX_TIME_SCALE=${TARNWELL_GUI_TIME_SCALE:-1}

# The devices' process ids, for the next run when this one is interrupted.
sim_pid_file=$work/msm-sim.pids
stop_devices() {
    local pid
    [ -f "$sim_pid_file" ] || return 0
    while read -r pid; do
        # Only a device of this work folder: the id may be another process's by now.
        grep -qsF -- "$work/ports" "/proc/$pid/cmdline" && kill "$pid" 2>/dev/null
    done <"$sim_pid_file"
    rm -f "$sim_pid_file"
}
cleanup() {
    wineserver -k 2>/dev/null
    stop_devices
    wait 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

stage_failed() {
    echo "[ RUN      ] TarnwellGui.Stage"
    echo "  $*"
    echo "[  FAILED  ] TarnwellGui.Stage"
    echo "[  PASSED  ] 0 tests."
    echo "[  FAILED  ] 1 test, listed below:"
    echo "[  FAILED  ] TarnwellGui.Stage"
    result_failed TarnwellGui.Stage "$*"
    write_results TarnwellGui
    exit 1
}

picture_failed() {
    echo "[ RUN      ] TarnwellGui.PictureFile"
    echo "  $*"
    echo "[  FAILED  ] TarnwellGui.PictureFile"
    echo "[  FAILED  ] 1 test, listed below:"
    echo "[  FAILED  ] TarnwellGui.PictureFile"
    result_failed TarnwellGui.PictureFile "$*"
}

for tool in wine wineserver python3 "$msm_sim" "$image_set" "$winecom"; do
    command -v "$tool" >/dev/null 2>&1 || stage_failed "missing $tool (./run build native; ./run deps)"
done

# ---------------------------------------------------------------- leftovers
# An interrupted run leaves its devices and its persistent server (which
# holds the old serial map and would host this run's programs) behind.
stop_devices
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null

# ---------------------------------------------------------------- images
run_dir=$work/run
rm -rf "$run_dir" "$work/ports"
mkdir -p "$run_dir" "$work/ports"
"$image_set" "$run_dir" >/dev/null || stage_failed "cannot write the image set"

# ---------------------------------------------------------------- devices
# The devices wait in download mode: the switches into it are the serial
# suites' subject, and skipping them keeps eight parallel runs under Wine
# clear of their tight timings on a busy machine.
names=()
for port in "${ports[@]}"; do
    [ "$port" = "$failing_port" ] && continue
    names+=(--name "ttyMSM$port")
done
"$msm_sim" -n $((${#ports[@]} - 1)) --mode download --platform K7M --dir "$work/ports" "${names[@]}" --no-stdin \
    >/dev/null 2>"$work/msm-sim.err" &
echo $! >>"$sim_pid_file"
"$msm_sim" -n 1 --mode download --platform K7M --dir "$work/ports" --name "ttyMSM$failing_port" \
    --knob dl.refuse-open=5 --no-stdin >/dev/null 2>"$work/msm-sim-failing.err" &
echo $! >>"$sim_pid_file"
for i in $(seq 100); do
    ready=0
    for port in "${ports[@]}"; do [ -L "$work/ports/ttyMSM$port" ] && ready=$((ready + 1)); done
    [ "$ready" = "${#ports[@]}" ] && break
    sleep 0.1
done
[ "$ready" = "${#ports[@]}" ] || stage_failed "only $ready of ${#ports[@]} virtual devices came up"

# ---------------------------------------------------------------- prefix
# Without a window manager every close of a top-level window stalls for 2 s
# unless Wine manages the windows itself. Marked ready for tools/wine-com too,
# which would boot a new prefix itself.
wine_boot_prefix 'HKCU\Software\Wine\X11 Driver' Managed N .gui-ready .fennix-ready

# A fresh server, started on the virtual screen: the desktop that Tarnwell's
# windows live on comes up with the X driver, before tools/wine-com (which
# runs Wine without a display) registers the ports.
wineserver -p >"$work/wineserver.log" 2>&1
wine reg query 'HKCU\Software\Wine\X11 Driver' >/dev/null 2>&1
for port in "${ports[@]}"; do
    "$winecom" "COM$port" "$work/ports/ttyMSM$port" 2>"$work/wine-com.err" ||
        stage_failed "tools/wine-com cannot register COM$port: $(cat "$work/wine-com.err")"
done
# All eight at once: a server that ended on the way took the earlier ones along.
wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' >"$work/serialcomm.txt" 2>&1
for port in "${ports[@]}"; do
    grep -q "QCUSB_COM$port *REG_SZ *COM$port" "$work/serialcomm.txt" ||
        stage_failed "COM$port is missing from the serial map: $(tr -d '\r' <"$work/serialcomm.txt")"
done

# ---------------------------------------------------------------- the run
port_list=$(IFS=,; echo "${ports[*]}")
rm -f "$screenshot"
timeout 280 wine "$driver" --tarnwell "$(winepath -w "$tarnwell")" --workdir "$(winepath -w "$run_dir")" \
        --ports "$port_list" --failing-slot "$failing_slot" --screenshot "$(winepath -w "$screenshot")" \
        --timeout-s 150 2>&1
rc=$?
[ "$rc" = 124 ] && stage_failed "the driver did not finish in time"

# The driver writes the picture uncompressed; squeeze it for keeping, and
# look at what was kept.
if [ ! -s "$screenshot" ]; then
    picture_failed "no picture at $screenshot"
    rc=1
elif figures=$(python3 "$(dirname "$0")/gui_png_compact.py" "$screenshot"); then
    echo "picture $screenshot: $figures"
else
    picture_failed "$screenshot: $figures"
    rc=1
fi
write_results TarnwellGui
exit $rc
