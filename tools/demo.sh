#!/usr/bin/env bash
# The demo: z58emu registered as COM7 in a private port alias folder, the
# remembered port pointed at it in a private configuration folder (never the
# user's), then the desktop program. Without a display it runs under Xvfb,
# writes screenshots to build/screenshots/ and ends.
set -euo pipefail
BUILD=${1:?build folder}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=$(mktemp -d)
. "$ROOT/tools/procs.sh"
cleanup() {
    procs_stop
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

export Z58_PORT_DIR="$WORK/ports" XDG_CONFIG_HOME="$WORK/config"
mkdir -p "$XDG_CONFIG_HOME/z58"
echo COM7 > "$XDG_CONFIG_HOME/z58/port"
printf 'PinCod=1234\r\nBalans=*100#\r\nUserNumber1=+79001234567\r\nMicLevel=10\r\nAutoStart=99\r\nOut1=3\r\n' > "$WORK/settings.txt"

procs_start_ready '^READY ' "$WORK/emu.out" "$WORK/emu.err" \
    "$BUILD/tools/z58emu" --register COM7 --version 001.050 --settings "$WORK/settings.txt" --log "$WORK/emu.jsonl"
echo "Emulated controller on ${PROCS_READY#READY } as COM7"

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
    # Xvfb picks a free display itself and names it when it is up.
    procs_start_ready '^[0-9]+$' "$WORK/display" "$WORK/xvfb.log" Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp
    DISPLAY=:$PROCS_READY Z58_SCREENSHOTS="$BUILD/screenshots" "$BUILD/app/z58config"
    echo "Screenshots:"
    ls -1 "$BUILD/screenshots"/*.png
fi
