#!/usr/bin/env bash
# Tarnwell.exe under Wine and Xvfb, end to end: eight virtual MSM devices on
# pseudo-terminals registered as COM3..COM10 of a private Wine prefix, the
# operator's steps played by gui_driver.exe from another process.
#
#   gui_end_to_end.sh <Tarnwell.exe> <gui_driver.exe> <native build> <work dir> <screenshot.png>
#
# The device on COM5 (slot 3) refuses to open the AMSS image, so that slot
# ends red while the seven others end grey. HKLM\HARDWARE is volatile in
# Wine: one persistent wineserver keeps the serial map for the whole run.
# Prints GoogleTest-style lines (the driver's own, or one failure when the
# stage cannot be set).
set -u
# Everything, the Wine server's desktop included, runs on one virtual screen.
if [ -z "${TARNWELL_GUI_SCREEN:-}" ]; then
    command -v xvfb-run >/dev/null 2>&1 || { echo "[  FAILED  ] 1 test, listed below:"; echo "no xvfb-run"; exit 1; }
    TARNWELL_GUI_SCREEN=xvfb exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
tarnwell=$(readlink -f "$1")
driver=$(readlink -f "$2")
native=$(readlink -f "$3")
work=$4
screenshot=$5
mkdir -p "$work" "$(dirname "$screenshot")"
work=$(readlink -f "$work")
screenshot=$(readlink -f "$(dirname "$screenshot")")/$(basename "$screenshot")

wine_com=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-com
msm_sim=$native/simulator/msm-sim
image_set=$native/tests/console/gui_image_set
ports=(3 4 5 6 7 8 9 10)
failing_port=5
failing_slot=3

export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
# Factor of the engine's pauses and time limits; Wine hands the variable on
# to Tarnwell.exe. Real timings by default: eight devices under Wine on a
# busy machine miss the scaled-down reply limits.
export FENNIX_TIME_SCALE=${TARNWELL_GUI_TIME_SCALE:-1}

sim_pids=()
cleanup() {
    wineserver -k 2>/dev/null
    for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
}
trap cleanup EXIT

stage_failed() {
    echo "[ RUN      ] TarnwellGui.Stage"
    echo "  $*"
    echo "[  FAILED  ] TarnwellGui.Stage"
    echo "[  PASSED  ] 0 tests."
    echo "[  FAILED  ] 1 test, listed below:"
    echo "[  FAILED  ] TarnwellGui.Stage"
    exit 1
}

for tool in wine wineserver "$msm_sim" "$image_set" "$wine_com"; do
    command -v "$tool" >/dev/null 2>&1 || stage_failed "missing $tool (./run build native; ./run deps)"
done

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
sim_pids+=($!)
"$msm_sim" -n 1 --mode download --platform K7M --dir "$work/ports" --name "ttyMSM$failing_port" \
    --knob dl.refuse-open=5 --no-stdin >/dev/null 2>"$work/msm-sim-failing.err" &
sim_pids+=($!)
for i in $(seq 100); do
    ready=0
    for port in "${ports[@]}"; do [ -L "$work/ports/ttyMSM$port" ] && ready=$((ready + 1)); done
    [ "$ready" = "${#ports[@]}" ] && break
    sleep 0.1
done
[ "$ready" = "${#ports[@]}" ] || stage_failed "only $ready of ${#ports[@]} virtual devices came up"

# ---------------------------------------------------------------- prefix
(
    flock 9
    if [ ! -f "$WINEPREFIX/.gui-ready" ]; then
        wineboot -i >/dev/null 2>&1
        # Without a window manager every close of a top-level window stalls
        # for 2 s unless Wine manages the windows itself.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wineserver -w
        # Ready for tools/wine-com too, which would boot a new prefix itself.
        touch "$WINEPREFIX/.gui-ready" "$WINEPREFIX/.fennix-ready"
    fi
) 9>"$work/prefix.lock"

# A fresh server, started on the virtual screen: the desktop that Tarnwell's
# windows live on comes up with the X driver, before tools/wine-com (which
# runs Wine without a display) registers the ports.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
wineserver -p >"$work/wineserver.log" 2>&1
wine reg query 'HKCU\Software\Wine\X11 Driver' >/dev/null 2>&1
for port in "${ports[@]}"; do
    "$wine_com" "COM$port" "$work/ports/ttyMSM$port" || stage_failed "tools/wine-com cannot register COM$port"
done

# ---------------------------------------------------------------- the run
port_list=$(IFS=,; echo "${ports[*]}")
rm -f "$screenshot"
timeout 280 wine "$driver" --tarnwell "$(winepath -w "$tarnwell")" --workdir "$(winepath -w "$run_dir")" \
        --ports "$port_list" --failing-slot "$failing_slot" --screenshot "$(winepath -w "$screenshot")" \
        --timeout-s 150 2>&1
rc=$?
[ "$rc" = 124 ] && stage_failed "the driver did not finish in time"

# The driver writes the picture uncompressed; squeeze it for keeping.
if [ -f "$screenshot" ] && command -v python3 >/dev/null; then
    python3 "$(dirname "$0")/gui_png_compact.py" "$screenshot" || true
fi
exit $rc
