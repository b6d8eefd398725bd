# Sourced by the scripts that run Windows programs under Wine against virtual
# devices: one private prefix per work folder, the devices, their COM ports
# (tools/wine-com), the cleanup, and a failure in GoogleTest's words. Kept in
# one place so that every script sets Wine up the same way.
#
# A script begins with `wine_suite_begin` (its name in messages, its program,
# its work folder) and, before starting devices, sets `sim` (msm-sim) and
# `ports` (their folder).

wine_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
winecom=$wine_lib_dir/../../tools/wine-com
# shellcheck source=../script_results.sh
source "$wine_lib_dir/../script_results.sh"

wine_skip_unless_ready() { # wine_skip_unless_ready <Windows program>: exits 77 without it or Wine
    if [ ! -f "$1" ] || ! command -v wine >/dev/null 2>&1; then
        echo "$wine_suite: needs Wine and the MinGW x64 build ($1); skipped"
        exit 77
    fi
}

wine_environment() { # wine_environment [--display]: Wine quiet, in $work/prefix, headless unless --display
    export WINEPREFIX=$work/prefix
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES='mscoree,mshtml='
    [ "${1:-}" = --display ] || unset DISPLAY
}

wine_work_folder() { # wine_work_folder <dir>: $work is the folder's absolute path, Wine set up for it
    mkdir -p "$1"
    work=$(cd "$1" && pwd)
    wine_environment
}

wine_suite_begin() { # wine_suite_begin <suite> <Windows program> <work dir>: $exe its absolute path, $work set up
    wine_suite=$1
    wine_skip_unless_ready "$2"
    exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
    wine_work_folder "$3"
}

wine_boot_prefix() { # wine_boot_prefix <key> <value> <data> <marker...>: first use boots the prefix
    local key=$1 value=$2 data=$3
    shift 3
    (
        flock 9
        if [ ! -f "$WINEPREFIX/$1" ]; then
            wineboot -i >/dev/null 2>&1
            wine reg add "$key" /v "$value" /d "$data" /f >/dev/null 2>&1
            wineserver -w
            local marker
            for marker in "$@"; do touch "$WINEPREFIX/$marker"; done
        fi
    ) 9>"$work/prefix.lock"
}

wine_fail() { # wine_fail <message>: one failed test, then exit 1
    echo "$wine_suite: $*"
    echo "[  FAILED  ] 1 test, listed below:"
    result_failed "$wine_suite" "$*"
    write_results "$wine_suite"
    exit 1
}

# ---------------------------------------------------------------- devices
wine_sims=()
# The device's standard error goes to $wine_device_stderr when that is set.
wine_start_device() { # wine_start_device <name> [VAR=value...] [msm-sim options...]
    local name=$1 vars=()
    shift
    while [ $# -gt 0 ] && [[ $1 == [A-Z]*=* ]]; do vars+=("$1"); shift; done
    env "${vars[@]}" "$sim" --dir "$ports" --name "$name" --no-stdin "$@" >/dev/null 2>"${wine_device_stderr:-/dev/null}" &
    wine_sims+=($!)
}

wine_wait_device() { # wine_wait_device <name>: 0 once its link is there, within 5 s
    for _ in $(seq 100); do [ -e "$ports/$1" ] && return 0; sleep 0.05; done
    [ -e "$ports/$1" ]
}

wine_stop_devices() { # the EXIT trap of a script with devices: their server and the devices
    "$winecom" --stop
    local pid
    for pid in "${wine_sims[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${wine_sims[@]}"; do wait "$pid" 2>/dev/null; done
}
