#!/usr/bin/env bash
# The Python package's tests, offline: a virtual environment in the build
# folder that sees the system's packages (pytest, setuptools, wheel from the
# distribution), the package installed into it from a copy of its sources,
# and pytest with this build's library and virtual device.
#
#   run_pytest.sh <python3> <package sources> <work dir> <libFennix> <msm-sim> <tests dir> [project version]
set -eu
python=$1 sources=$2 work=$3 library=$4 sim=$5 tests=$6 version=${7:-}
mkdir -p "$work"
# Installed from a copy, which stands for the source folder: the install must
# leave it as it was (no build/, no .egg-info).
rm -rf "$work/package"
cp -r "$sources" "$work/package"
rm -rf "$work/package/build" "$work/package"/*.egg-info "$work/package/__pycache__"
before=$(cd "$work/package" && find . | sort)
[ -x "$work/venv/bin/python" ] || "$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --quiet --no-index --no-build-isolation --no-deps --force-reinstall \
    "$work/package"
after=$(cd "$work/package" && find . | sort)
if [ "$before" != "$after" ]; then
    echo "pip install wrote into the package's source folder:" >&2
    diff <(echo "$before") <(echo "$after") >&2 || true
    exit 1
fi
# Run from the tests' folder for short test names; nothing is written there.
cd "$tests"
results=()
[ -z "${FENNIX_SCRIPT_RESULTS:-}" ] || results=(--junitxml="$FENNIX_SCRIPT_RESULTS")
FENNIX_LIBRARY=$library FENNIX_MSM_SIM=$sim FENNIX_PROJECT_VERSION=$version FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.05} \
    PYTHONDONTWRITEBYTECODE=1 exec "$work/venv/bin/python" -m pytest -p no:cacheprovider -v "${results[@]}" .
