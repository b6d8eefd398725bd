#!/usr/bin/env bash
# The Linux build as users get it:
#
#   install_test.sh <source dir> <build dir> <msm-sim> <version> <work dir>
#
# installs the build into a fresh prefix, builds the example consumer against
# it through find_package and through pkg-config and runs a backup with each
# against a virtual device; then makes the Debian package (cpack), unpacks it
# into a scratch root and checks its files and its tool. GoogleTest-style lines.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../script_results.sh"
src=$1
build=$2
sim=$3
version=$4
work=$5
# The command-line tool belongs in the package: its absence fails the test.
require_tool=1

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
prefix=$work/prefix
ports=$work/ports
mkdir -p "$ports" "$work/no-sysfs"
export FENNIX_TIME_SCALE=${FENNIX_TIME_SCALE:-0.2}
export FENNIX_SYSFS_ROOT=$work/no-sysfs
export FENNIX_LOG_LEVEL=-1

passed=0
failed=()
problems=""
problem() { problems+="  $*"$'\n'; }
check() { # check <name>: reports the problems gathered since the last check
    echo "[ RUN      ] Packaging.$1"
    if [ -n "$problems" ]; then
        printf '%s' "$problems"
        echo "[  FAILED  ] Packaging.$1"
        failed+=("$1")
        result_failed "Packaging.$1" "$problems"
    else
        echo "[       OK ] Packaging.$1"
        passed=$((passed + 1))
        result_passed "Packaging.$1"
    fi
    problems=""
}
must_exist() { # must_exist <root> <relative path...>
    local root=$1 path; shift
    for path in "$@"; do [ -e "$root/$path" ] || problem "missing $path"; done
}

# Every ELF file below <dir> whose RUNPATH or RPATH holds an empty or relative
# element: the loader reads such an element as the folder the program was started
# in, so a library lying there would be loaded.
unsafe_runpaths() { # unsafe_runpaths <dir>
    local file paths element
    while IFS= read -r -d '' file; do
        [ "$(head -c 4 "$file" 2>/dev/null | od -An -c | tr -d ' ')" = '177ELF' ] || continue
        paths=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p')
        [ -n "$paths" ] || continue
        while IFS= read -r element; do
            case $element in
                /* | '$ORIGIN'*) ;;
                *) echo "${file#"$1"/}: [$paths]"; break ;;
            esac
        done < <(printf '%s' "$paths" | tr ':' '\n'; [[ $paths == *: || $paths == :* || $paths == *::* ]] && echo)
    done < <(find "$1" -type f \( -perm -u+x -o -name '*.so*' \) -print0)
}

sim_pid=
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null' EXIT
store=$work/device.nv
printf 'item 550 plain 0102030405\nitem 551 plain 0a0b\n' >"$store"
FENNIX_SIM_NV_STORE=$store "$sim" --dir "$ports" --name nv --mode diag --no-stdin >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$ports/nv" ] && break; sleep 0.05; done
printf 'name;number\nfirst;550\nsecond;551\n' >"$work/items.csv"

backup_with() { # backup_with <program> <brt>: a backup of both items, checked by its record count
    local output
    output=$("$1" "$ports/nv" "$work/items.csv" "$2" 2>&1) || { problem "backup failed: $output"; return; }
    [ "$(od -An -tu4 -N4 "$2" 2>/dev/null | tr -d ' ')" = 2 ] || problem "$2 does not hold two records"
    [ -z "$("$1")" ] || problem "port list not empty without Qualcomm ports"
}

# The install tree: deliverables only, the library under its soname.
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || problem "cmake --install failed"
must_exist "$prefix" lib/libFennix.so lib/libFennix.so.1 "lib/libFennix.so.$version" include/fennix/fennix.h \
    lib/cmake/Fennix/FennixConfig.cmake lib/cmake/Fennix/FennixConfigVersion.cmake lib/pkgconfig/fennix.pc \
    share/doc/fennix/README.md share/doc/fennix/LICENSE share/doc/fennix/examples/60-fennix.rules \
    share/doc/fennix/examples/nv-items.csv share/doc/fennix/examples/example.duck \
    share/doc/fennix/examples/fennix-station.service share/doc/fennix/examples/station.toml
doc_pages() { # the pages the README links to, as they lie below share/doc/fennix
    local page
    for page in "$src"/docs/*.md; do echo "share/doc/fennix/docs/${page##*/}"; done
}
# shellcheck disable=SC2046
must_exist "$prefix" $(doc_pages)
objdump -p "$prefix/lib/libFennix.so" 2>/dev/null | grep -q 'SONAME *libFennix\.so\.1$' || problem "soname is not libFennix.so.1"
extra=$(cd "$prefix" && find . -type f ! -name '*.md' | grep -E 'msm-sim|_tests|bench|demo|gtest|simulator')
[ -z "$extra" ] || problem "installs build-only files: $extra"
check InstallTreeHoldsTheDeliverables

unsafe=$(unsafe_runpaths "$build"; unsafe_runpaths "$prefix")
[ -z "$unsafe" ] || problem "empty or relative RUNPATH elements: $unsafe"
check NoRunpathNamesTheWorkingFolder

cmake -S "$src/examples" -B "$work/by-cmake" -DCMAKE_PREFIX_PATH="$prefix" >"$work/by-cmake.log" 2>&1 &&
    cmake --build "$work/by-cmake" >>"$work/by-cmake.log" 2>&1 || problem "find_package build failed: $(tail -5 "$work/by-cmake.log")"
[ -x "$work/by-cmake/list-and-backup" ] && backup_with "$work/by-cmake/list-and-backup" "$work/by-cmake.brt"
check ExampleBuildsWithFindPackage

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion fennix 2>&1)" = "$version" ] || problem "pkg-config --modversion: $(pkg-config --modversion fennix 2>&1)"
# shellcheck disable=SC2046
cc -o "$work/by-pkg-config" "$src/examples/list-and-backup.c" $(pkg-config --cflags --libs fennix) 2>"$work/cc.log" ||
    problem "pkg-config build failed: $(cat "$work/cc.log")"
[ -x "$work/by-pkg-config" ] && LD_LIBRARY_PATH=$prefix/lib backup_with "$work/by-pkg-config" "$work/by-pkg-config.brt"
check ExampleBuildsWithPkgConfig

# The Debian package: /usr, the udev rule and the station's unit only as examples, the tool runs.
deb=
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1 || problem "cpack failed: $(tail -5 "$work/cpack.log")"
deb=$(ls "$work"/deb/fennix_*.deb 2>/dev/null | head -1)
if [ -n "$deb" ]; then
    root=$work/root
    dpkg -x "$deb" "$root"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || problem "package version $(dpkg-deb -f "$deb" Version)"
    must_exist "$root" usr/lib/libFennix.so.1 usr/include/fennix/fennix.h usr/lib/cmake/Fennix/FennixConfig.cmake \
        usr/lib/pkgconfig/fennix.pc usr/share/doc/fennix/README.md usr/share/doc/fennix/LICENSE \
        usr/share/doc/fennix/examples/60-fennix.rules usr/share/doc/fennix/examples/nv-items.csv \
        usr/share/doc/fennix/examples/example.duck usr/share/doc/fennix/examples/fennix-station.service \
        usr/share/doc/fennix/examples/station.toml
    # shellcheck disable=SC2046
    must_exist "$root" $(doc_pages | sed 's|^|usr/|')
    unsafe=$(unsafe_runpaths "$root")
    [ -z "$unsafe" ] || problem "empty or relative RUNPATH elements: $unsafe"
    [ ! -e "$root/etc/udev" ] && [ ! -e "$root/lib/udev" ] && [ ! -e "$root/usr/lib/udev" ] || problem "installs an active udev rule"
    [ -z "$(find "$root" -path '*/systemd/system*' -print -quit)" ] || problem "installs an active systemd unit"
    if [ -x "$root/usr/bin/fennix" ]; then
        out=$("$root/usr/bin/fennix" --version 2>&1) || problem "fennix --version failed: $out"
        [[ $out == *"fennix $version"*", library $version"* ]] || problem "fennix --version does not show the tool and library version $version: $out"
    elif [ "$require_tool" = 1 ]; then
        problem "no usr/bin/fennix"
    fi
else
    problem "no package in $work/deb"
fi
check DebianPackageUnpacksAndRuns

write_results Packaging
total=$((passed + ${#failed[@]}))
echo "[==========] $total tests ran."
echo "[  PASSED  ] $passed tests."
if ((${#failed[@]})); then
    echo "[  FAILED  ] ${#failed[@]} tests, listed below:"
    printf '[  FAILED  ] Packaging.%s\n' "${failed[@]}"
    exit 1
fi
