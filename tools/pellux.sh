#!/usr/bin/env bash
# Builds, runs, tests and measures Pellux IDE on Debian. Installs what is missing first.
#   tools/pellux.sh run | test | bench | peers | fuzz | dist | soak
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
artifacts=$build/artifacts
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake make g++ googletest libgtest-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64
          wine wine64 wine32:i386 xvfb xdotool imagemagick x11-utils clang zip unzip g++-multilib
          qemu-user)

say() { printf '== %s\n' "$*"; }

ensure_packages() {
    local missing=() package
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    say "installing: ${missing[*]}"
    if [[ " ${missing[*]} " == *":i386 "* ]]; then $sudo dpkg --add-architecture i386; fi
    # A mirror in the middle of a sync fails the update now and then: try again, and go on with
    # whatever lists came down, since the install says plainly what it cannot find.
    local try
    for try in 1 2 3; do
        if $sudo apt-get update -qq; then break; fi
        if [ $try -lt 3 ]; then say "the package lists did not all come down; trying again in 10 s"; sleep 10; fi
    done
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null && return 0
    # 32-bit libraries must match their 64-bit twins' versions: when the mirror's i386 lists
    # lag behind, 32-bit Wine cannot go in, and the x86-64 build is what Wine runs instead.
    local rest=() package
    for package in "${missing[@]}"; do [[ $package == *:i386 ]] || rest+=("$package"); done
    [ ${#rest[@]} -lt ${#missing[@]} ] || return 1
    say "32-bit Wine could not be installed; Wine runs the x86-64 build on this machine"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${rest[@]}" >/dev/null
}

# Wine runs 32-bit programs only where the kernel starts 32-bit Linux programs; elsewhere
# the same sources are built for x86-64 and Wine runs those.
runnable_arch() {
    if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
}

# The 32-bit Linux build of the interpreter runs directly where the kernel starts a 32-bit
# program, and under qemu-i386 where it does not.
i686_emulator() {
    local probe=$build/i686-probe
    mkdir -p "$build"
    if printf 'int main(void) { return 0; }\n' | gcc -m32 -x c -o "$probe" - 2>/dev/null && "$probe" 2>/dev/null; then
        echo ""
    else
        command -v qemu-i386 || echo qemu-i386
    fi
}

wine_loader() {
    if [ "$1" == i686 ]; then command -v wine; else command -v wine64 || echo /usr/lib/wine/wine64; fi
}

configure_and_build() {  # tree, toolchain or "", targets...
    local tree=$1 toolchain=$2; shift 2
    local args=(-S "$root" -B "$tree" -DCMAKE_BUILD_TYPE=Release)
    [ -z "$toolchain" ] || args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain")
    [ "$toolchain" != linux-i686.cmake ] || args+=(-DPELLUX_I686_EMULATOR="$i686_emulator")
    cmake "${args[@]}" >/dev/null
    cmake --build "$tree" -j "$jobs" ${1:+--target "$@"}
}

windows_tree() { echo "$build/win-$1"; }

build_all() {
    say "building natively"
    configure_and_build "$build/native" ""
    say "building the interpreter for 32-bit Linux${i686_emulator:+ (run under $i686_emulator here)}"
    configure_and_build "$build/native-i686" linux-i686.cmake
    say "building Pelluxw.exe for 32-bit Windows"
    configure_and_build "$(windows_tree i686)" mingw-i686.cmake
    if [ "$arch" != i686 ]; then
        say "building the $arch Windows programs that Wine runs here"
        configure_and_build "$(windows_tree "$arch")" "mingw-$arch.cmake"
    fi
}

xvfb_pid=""
start_xvfb() {
    local fifo display
    fifo=$(mktemp -u); mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r display <"$fifo"; rm -f "$fifo"
    export DISPLAY=":$display"
}

# One fresh Wine prefix per run: nothing of an earlier run or of the user's own prefix leaks in.
prepare_prefix() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    rm -rf "$WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1
    # Without a window manager, closed dialogs linger unless Wine manages no window.
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    # A crash ends the program instead of waiting in the debugger's dialog.
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w 2>/dev/null || true
    # Caption buttons are glyphs of Marlett, which a new prefix lacks: without it they read "0 1 r".
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
}

cleanup() {
    [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}

wait_for_window() {  # title, seconds
    local deadline=$(( $(date +%s) + $2 ))
    until xdotool search --name "^$1\$" >/dev/null 2>&1; do
        [ "$(date +%s)" -lt "$deadline" ] || return 1
        sleep 0.02
    done
}

do_run() {
    local tree; tree=$(windows_tree "$arch")
    say "building"
    configure_and_build "$tree" "mingw-$arch.cmake" Pelluxw pellux
    cd "$tree"  # the editor looks for Pellux.Exe in its start directory
    if [ -n "${DISPLAY:-}" ]; then
        say "starting $tree/Pelluxw.exe"
        exec "$wine" ./Pelluxw.exe
    fi
    trap cleanup EXIT
    start_xvfb
    prepare_prefix "$build/wineprefix-run"
    "$wine" ./Pelluxw.exe &
    wait_for_window "Pellux \(Extended Syntax\) IDE Version 1.0.1" 60 || { echo "the window did not appear" >&2; exit 1; }
    mkdir -p "$artifacts"
    import -window "$(xdotool search --name '^Pellux \(Extended' | head -1)" "$artifacts/run-window.png"
    say "no display: Pelluxw.exe ran under Xvfb; its window is in $artifacts/run-window.png"
}

do_test() {
    build_all
    local tree; tree=$(windows_tree "$arch")
    trap cleanup EXIT
    say "native tests"
    ctest --test-dir "$build/native" -j "$jobs" --output-on-failure
    say "32-bit Linux tests${i686_emulator:+ under $i686_emulator}"
    ctest --test-dir "$build/native-i686" -j "$jobs" --output-on-failure
    # The end-to-end test of the download unpacks the 32-bit zip, whatever Wine runs here.
    export PELLUX_DIST_ZIP; PELLUX_DIST_ZIP=$(dist_zip)
    say "Windows tests under Wine ($arch), one at a time"
    local place free_mb
    for place in "$build" /tmp; do
        free_mb=$(df -Pm "$place" | awk 'NR == 2 { print $4 }')
        [ "$free_mb" -ge 3000 ] || say "only $free_mb MB free in $place: a Wine prefix takes about 1.3 GB, tests may fail for want of room"
    done
    start_xvfb
    prepare_prefix "$build/wineprefix-test"
    ctest --test-dir "$tree" --output-on-failure
}

# Random use for ten minutes from a new start number, then the editor through 1,000 cycles of
# Open, edit, Save and New (PELLUX_RANDOM_* and PELLUX_SOAK_CYCLES change them).
do_soak() {
    local tree; tree=$(windows_tree "$arch")
    say "building Pelluxw.exe and the drivers"
    configure_and_build "$tree" "mingw-$arch.cmake" Pelluxw pellux pxdriver pxrandom pxsoak
    trap cleanup EXIT
    start_xvfb
    prepare_prefix "$build/wineprefix-soak"
    local tests=soak
    [ "${PELLUX_SOAK_CYCLES:-1000}" != 0 ] || tests=soak_random_use
    say "random use and soak under Wine ($arch)"
    ctest --test-dir "$tree" -C soak -L soak -R "$tests" --verbose
}

do_bench() {
    packages+=(beef hsbrainfuck time)
    ensure_packages
    build_all
    # The 64-bit Pellux.Exe is measured on every machine; build_all makes that tree only where
    # Wine cannot run 32-bit programs.
    if [ "$arch" == i686 ]; then
        say "building the 64-bit Pellux.Exe"
        configure_and_build "$(windows_tree x86_64)" mingw-x86_64.cmake pellux plain_interpreter
    fi
    trap cleanup EXIT
    start_xvfb
    prepare_prefix "$build/wineprefix-bench"
    local wine32=""
    [ "$arch" != i686 ] || wine32=$wine
    PELLUX_WINE="$wine" PELLUX_BUILD="$build" PELLUX_WINDOWS_TREE="$(windows_tree "$arch")" \
        PELLUX_WIN32_TREE="$(windows_tree i686)" PELLUX_WINE32="$wine32" PELLUX_I686_EMULATOR="$i686_emulator" \
        PELLUX_WIN64_TREE="$(windows_tree x86_64)" PELLUX_WINE64="$(wine_loader x86_64)" \
        bash "$root/bench/run.sh"
}

# Only the table of pellux next to tritium, which needs the native build alone.
do_peers() {
    say "building the native interpreter and the benchmark programs"
    configure_and_build "$build/native" "" pellux bench_programs
    PELLUX_BUILD="$build" bash "$root/bench/peers.sh"
}

# One fuzz target for PELLUX_FUZZ_SECONDS, its lines marked with its name; its corpus and
# findings are its own.
fuzz_one() {  # name, command...
    local name=$1 corpus=$build/fuzz-corpus-$1; shift
    mkdir -p "$corpus"
    cp -n "$root"/tests/fuzz/corpus/* "$corpus"/
    "$@" -max_total_time="${PELLUX_FUZZ_SECONDS:-600}" -timeout=5 -max_len=4096 \
        -artifact_prefix="$build/fuzz-$name-" "$corpus" 2>&1 | sed -u "s/^/[$name] /"
}

do_fuzz() {
    say "building the fuzz targets, natively and for 32-bit Linux${i686_emulator:+ (run under $i686_emulator here)}"
    configure_and_build "$build/native" "" interpreter_fuzz
    configure_and_build "$build/native-i686" linux-i686.cmake interpreter_fuzz
    local runner=() native_pid i686_pid failed=0
    [ -z "$i686_emulator" ] || runner=("$i686_emulator")
    say "fuzzing both for ${PELLUX_FUZZ_SECONDS:-600} s, side by side"
    fuzz_one native "$build/native/tests/fuzz/interpreter_fuzz" & native_pid=$!
    fuzz_one i686 "${runner[@]}" "$build/native-i686/tests/fuzz/interpreter_fuzz" & i686_pid=$!
    wait "$native_pid" || { failed=1; say "the native fuzz target failed; findings: $build/fuzz-native-*"; }
    wait "$i686_pid" || { failed=1; say "the 32-bit fuzz target failed; findings: $build/fuzz-i686-*"; }
    [ $failed -eq 0 ] && say "both fuzz targets ran without a finding"
    return $failed
}

# The download for Windows users, built in the 32-bit tree with its programs.
dist_zip() {
    local version
    version=$(sed -n 's/^#define PELLUX_VERSION_TEXT *"\(.*\)"/\1/p' "$root/resources/version.h")
    echo "$(windows_tree i686)/dist/pellux-ide-$version-win32.zip"
}

do_dist() {
    say "packing the download"
    configure_and_build "$(windows_tree i686)" mingw-i686.cmake dist
    mkdir -p "$build/dist"
    cp "$(dist_zip)" "$build/dist/"
    say "$build/dist/$(basename "$(dist_zip)")"
}

# A setting the user gives must be a whole number within its range; one line says which is not,
# before anything is installed or built.
check_setting() {  # name, least, most
    local value=${!1-}
    [ -n "${!1+set}" ] || return 0
    if [[ ! "$value" =~ ^[0-9]{1,10}$ ]] || [ "$((10#$value))" -lt "$2" ] || [ "$((10#$value))" -gt "$3" ]; then
        echo "$1 must be a whole number from $2 to $3, not '$value'" >&2
        exit 2
    fi
}

case "${1:-}" in
    run|test|bench|peers|fuzz|dist|soak) ;;
    *) echo "usage: $0 run|test|bench|peers|fuzz|dist|soak" >&2; exit 2 ;;
esac
check_setting PELLUX_FUZZ_SECONDS 1 86400
check_setting PELLUX_PEER_RUNS 1 100
check_setting PELLUX_RANDOM_START 0 4294967295
check_setting PELLUX_RANDOM_SECONDS 1 86400
check_setting PELLUX_RANDOM_ACTIONS 0 100000000
check_setting PELLUX_RANDOM_BIG_KB 1 8192
check_setting PELLUX_RANDOM_DEADLINE 1 3600
check_setting PELLUX_SOAK_CYCLES 0 1000000
ensure_packages
arch=$(runnable_arch)
i686_emulator=$(i686_emulator)
wine=$(wine_loader "$arch")
"do_$1"
