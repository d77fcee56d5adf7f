#!/usr/bin/env bash
# The Windows stage: cross-build with mingw-w64, then run the Windows test suites
# under a private, headless Wine prefix. The device tests reach emulated
# controllers through Wine's COM ports: each emulator's pseudo-terminal is linked
# as dosdevices/comN, so CreateFileA("\\.\COM7") ends up at z58emu.
set -euo pipefail
ROOT=${1:?source folder}
NATIVE="$ROOT/build"
WIN="$ROOT/build-windows"
start=$(date +%s)

cmake -S "$ROOT" -B "$WIN" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DZ58_GEN_RESOURCES="$NATIVE/resources/gen_resources" -DZ58_BUILD_GUI=OFF -DZ58_BUILD_BENCH=OFF >/dev/null
cmake --build "$WIN" -j"$(nproc)"

export WINEPREFIX="$WIN/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
WORK=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Preparing the Wine prefix (once)..."
    wineboot -i >/dev/null 2>&1 || true
fi
wineserver -p || true  # one persistent server: each test start takes milliseconds (already running is fine)
wine cmd /c exit 0 >/dev/null 2>&1 || true

emulator() { # emulator COMn [z58emu options...]
    local com=$1; shift
    "$NATIVE/tools/z58emu" "$@" > "$WORK/$com.out" 2> "$WORK/$com.err" &
    pids+=($!)
    for _ in $(seq 100); do grep -q READY "$WORK/$com.out" 2>/dev/null && break; sleep 0.05; done
    local pty; pty=$(cut -d' ' -f2 "$WORK/$com.out")
    ln -sfn "$pty" "$WINEPREFIX/dosdevices/$(echo "$com" | tr 'A-Z' 'a-z')"
}
emulator COM7
emulator COM8 --silent
emulator COM9 --stray 3

total=0
failed=0
for suite in link_tests params_tests device_tests windows_tests; do
    exe="$WIN/tests/$suite.exe"
    echo "== $suite (Wine)"
    if Z58_WIN_PORT=COM7 Z58_WIN_SILENT_PORT=COM8 Z58_WIN_STRAY_PORT=COM9 wine "$exe" > "$WORK/$suite.log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed=$((failed + 1))
        cat "$WORK/$suite.log"
    fi
    grep -E '^\[  (PASSED|FAILED) ' "$WORK/$suite.log" | sed 's/^/   /' || true
    grep -E '^\[  SKIPPED \] [A-Za-z_0-9]+\.[A-Za-z_0-9]+ \(' "$WORK/$suite.log" | sed 's/^/   /' || true
    n=$(grep -oE '^\[==========\] [0-9]+ tests? from' "$WORK/$suite.log" | tail -1 | grep -oE '[0-9]+' | head -1 || echo 0)
    total=$((total + ${n:-0}))
    echo "   $status"
done
echo "Windows stage: $total tests, $failed failed suites, $(( $(date +%s) - start )) s"
[ "$failed" -eq 0 ]
