#!/usr/bin/env bash
# The demo: z58emu registered as COM7 in a private port alias folder, the
# remembered port pointed at it in a private configuration folder (never the
# user's), then the desktop program. Without a display it runs under Xvfb,
# writes screenshots to build/screenshots/ and ends.
set -euo pipefail
BUILD=${1:?build folder}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=$(mktemp -d)
cleanup() {
    [ -n "${EMU_PID:-}" ] && kill "$EMU_PID" 2>/dev/null || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

export Z58_PORT_DIR="$WORK/ports" XDG_CONFIG_HOME="$WORK/config"
mkdir -p "$XDG_CONFIG_HOME/z58"
echo COM7 > "$XDG_CONFIG_HOME/z58/port"
printf 'PinCod=1234\r\nBalans=*100#\r\nUserNumber1=+79001234567\r\nMicLevel=10\r\nAutoStart=99\r\nOut1=3\r\n' > "$WORK/settings.txt"

"$BUILD/tools/z58emu" --register COM7 --version 001.050 --settings "$WORK/settings.txt" \
    --log "$WORK/emu.jsonl" > "$WORK/emu.out" 2> "$WORK/emu.err" &
EMU_PID=$!
for _ in $(seq 100); do grep -q READY "$WORK/emu.out" 2>/dev/null && break; sleep 0.05; done
echo "Emulated controller on $(cut -d' ' -f2 "$WORK/emu.out") as COM7"

if [ ! -x "$BUILD/app/z58config" ]; then
    echo "The desktop program is not built; showing the command line tool instead."
    "$BUILD/tools/z58ctl" version
    "$BUILD/tools/z58ctl" serial
    "$BUILD/tools/z58ctl" read-settings
    exit 0
fi

if [ -n "${DISPLAY:-}" ]; then
    "$BUILD/app/z58config"
else
    mkdir -p "$BUILD/screenshots"
    Xvfb :87 -screen 0 1280x800x24 -nolisten tcp > "$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do [ -e /tmp/.X11-unix/X87 ] && break; sleep 0.05; done
    DISPLAY=:87 Z58_SCREENSHOTS="$BUILD/screenshots" "$BUILD/app/z58config"
    echo "Screenshots:"
    ls -1 "$BUILD/screenshots"/*.png
fi
