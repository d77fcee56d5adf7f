#!/usr/bin/env bash
# Framed pictures of the Windows desktop program under Wine: the program runs in
# a Wine desktop on Xvfb against an emulated controller on COM7 and is clicked
# like a user would (main window after Version and Serial number, the editor on
# AutoStart, the sound question's message box). Wine draws the frames, Tahoma
# comes from fonts-wine, Verdana is mapped to DejaVu Sans.
#   tools/windows-screenshots.sh SOURCE WORKFOLDER
set -euo pipefail
ROOT=${1:?source folder}
WORK=${2:?work folder}
NATIVE="$ROOT/build"
WIN="$ROOT/build-windows"
OUT="$WIN/screenshots"
: "${WINEPREFIX:?}"
mkdir -p "$OUT"
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Verdana /d 'DejaVu Sans' /f >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\KM\QV_USB_PORT' /v Port /d COM7 /f >/dev/null 2>&1

"$NATIVE/tools/z58emu" --version 001.050 --settings-text 'PinCod=1234\nMicLevel=10\nAutoStart=99\n' \
    > "$WORK/shots-emu.out" 2>/dev/null &
emu=$!
Xvfb :94 -screen 0 1024x768x24 -nolisten tcp > "$WORK/shots-xvfb.log" 2>&1 &
xvfb=$!
stop() { kill "$emu" "$xvfb" 2>/dev/null || true; }
trap stop EXIT
for _ in $(seq 100); do grep -q READY "$WORK/shots-emu.out" 2>/dev/null && [ -e /tmp/.X11-unix/X94 ] && break; sleep 0.05; done
ln -sfn "$(cut -d' ' -f2 "$WORK/shots-emu.out")" "$WINEPREFIX/dosdevices/com7"
export DISPLAY=:94

W=760 H=620 # the Wine desktop; the main window is centred in it
DISPLAY=:94 wine explorer /desktop=z58,${W}x${H} "$WIN/dist/z58config.exe" > "$WORK/shots-wine.log" 2>&1 &
for _ in $(seq 200); do xdotool search --name "z58 - Wine desktop" >/dev/null 2>&1 && break; sleep 0.1; done
sleep 3
# The main window's client area: 320 x 505 centred, below a 20-pixel title bar.
cx=$(( W / 2 - 160 )) cy=$(( H / 2 - 230 ))
click() { xdotool mousemove $((cx + $1)) $((cy + $2)) click 1; sleep "${3:-0.8}"; }
shot() { import -window root -crop ${W}x${H}+0+0 +repage "$OUT/$1"; echo "wrote $OUT/$1"; }

click 232 277        # Версия ПО
click 84 277         # Серийный номер
shot win-main.png
click 158 199 1.5    # Загрузить настройки из устройства: the editor
ex=18 ey=114 row=15  # the editor's first tree row, in desktop coordinates
# The first group opens with the editor: "Автозапуск" is row 12; once it is
# selected the first group closes and its "Тип атозапуска" is row 12 too.
xdotool mousemove $((ex + 60)) $((ey + 12 * row)) click 1; sleep 0.5
xdotool mousemove $((ex + 80)) $((ey + 12 * row)) click 1; sleep 0.8
shot win-editor.png
xdotool key Escape; sleep 0.8
click 158 168 1      # Обновить звук: the question
shot win-message.png
xdotool key Escape; sleep 0.3
wineserver -k 2>/dev/null || true
for f in win-main.png win-editor.png win-message.png; do [ -s "$OUT/$f" ] || { echo "no picture $f" >&2; exit 1; }; done
