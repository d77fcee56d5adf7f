#!/usr/bin/env bash
# Framed pictures of the Windows desktop program under Wine: the program runs in
# a Wine desktop on Xvfb against an emulated controller on COM7 and is clicked
# like a user would (main window after Version and Serial number, the editor on
# AutoStart, the sound question's message box; main window and editor again at
# 150 %). Wine draws the frames, Tahoma
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

. "$ROOT/tools/procs.sh"
stop() {
    wineserver -k 2>/dev/null || true # the Wine desktop and the program in it, before their display goes
    wineserver -w 2>/dev/null || true
    procs_stop
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
procs_start_ready '^READY ' "$WORK/shots-emu.out" "$WORK/shots-emu.err" \
    "$NATIVE/tools/z58emu" --version 001.050 --settings-text 'PinCod=1234\nMicLevel=10\nAutoStart=99\n'
ln -sfn "${PROCS_READY#READY }" "$WINEPREFIX/dosdevices/com7"
# Xvfb picks a free display itself and names it when it is up.
procs_start_ready '^[0-9]+$' "$WORK/shots-display" "$WORK/shots-xvfb.log" \
    Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp
export DISPLAY=:$PROCS_READY

W=760 H=620 # the Wine desktop; the main window is centred in it
procs_start wine explorer /desktop=z58,${W}x${H} "$WIN/dist/z58config.exe" > "$WORK/shots-wine.log" 2>&1
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
# From the keyboard, as at any scale: the filter has the focus; the key finds
# "Тип атозапуска", Down selects it, and the filter is emptied again.
pick_autostart() {
    xdotool type --delay 60 AutoStart; sleep 0.3
    xdotool key Down; sleep 0.3
    xdotool key shift+Tab shift+Tab ctrl+a BackSpace; sleep 0.8
}
pick_autostart
shot win-editor.png
# A change, then Send from the menu with Alt: the question, and the change list
# read from the controller. Отмена leaves it, the editor closes without saving.
xdotool type --delay 60 MicLevel; sleep 0.3
xdotool key Down Tab ctrl+a; xdotool type 12; xdotool key Tab; sleep 0.3
xdotool key alt; sleep 0.3; xdotool key Right Return; sleep 0.8
xdotool key Return; sleep 1.5   # "Записать настройки в устройство?" OK
shot win-changes.png
xdotool key Escape; sleep 0.8   # Отмена: nothing written
xdotool key Escape; sleep 0.8   # close the editor...
xdotool key Return; sleep 0.8   # ...without saving
click 158 168 1      # Обновить звук: the question
shot win-message.png
xdotool key Escape; sleep 0.3
wineserver -k 2>/dev/null || true

# The same at 150 % (LogPixels 144): the fixed layouts grow as a whole, so every
# offset above grows by half.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
W=1140 H=930
procs_start wine explorer /desktop=z58,${W}x${H} "$WIN/dist/z58config.exe" > "$WORK/shots-wine-150.log" 2>&1
for _ in $(seq 200); do xdotool search --name "z58 - Wine desktop" >/dev/null 2>&1 && break; sleep 0.1; done
sleep 3
big() { echo $(( $1 * 3 / 2 )); }
cx=$(( W / 2 - $(big 160) )) cy=$(( H / 2 - $(big 230) ))
click() { xdotool mousemove $((cx + $(big $1))) $((cy + $(big $2))) click 1; sleep "${3:-0.8}"; }
click 232 277        # Версия ПО
click 84 277         # Серийный номер
shot win-main-150.png
click 158 199 1.5    # the editor
pick_autostart
shot win-editor-150.png
xdotool key Escape; sleep 0.5
wineserver -k 2>/dev/null || true
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
for f in win-main.png win-editor.png win-changes.png win-message.png win-main-150.png win-editor-150.png; do
    [ -s "$OUT/$f" ] || { echo "no picture $f" >&2; exit 1; }
done
