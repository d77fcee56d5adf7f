#!/usr/bin/env bash
# The demo: z58emu registered as COM7 in a private port alias folder, the
# remembered port pointed at it in a private configuration folder (never the
# user's), four more on COM8 to COM11 for the series window, then the desktop
# program. Without a display it runs under Xvfb,
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
# A series' units, on COM8 to COM11 (the main window keeps COM7): one whose
# firmware update answers slowly, one up to date, one updated quickly, and one
# of another type, which the series refuses.
printf 'PinCod=4821\r\nUserNumber1=+79005550101\r\nMicLevel=10\r\n' > "$WORK/unit.txt"
series_unit() { # series_unit COMn SERIAL [z58emu options...]
    local com=$1 serial=$2
    shift 2
    procs_start_ready '^READY ' "$WORK/$com.out" "$WORK/$com.err" \
        "$BUILD/tools/z58emu" --register "$com" --serial "$serial" --settings "$WORK/unit.txt" "$@"
}
series_unit COM8 305420101 --version 001.050 --slow 30
series_unit COM9 305420102
series_unit COM10 305420103 --version 001.050
series_unit COM11 305420104 --type QV_r1
echo "Emulated series units as COM8 to COM11"

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
