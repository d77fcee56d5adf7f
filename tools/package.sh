#!/usr/bin/env bash
# ./run package: the Windows installer (NSIS) and the Debian package, each
# installed, tried and removed again.
#   Windows: Z58-Setup-<version>.exe in build-windows/, tested under the Windows
#            stage's Wine prefix: silent install, the installed program's
#            screenshot mode, silent uninstall (the remembered port stays).
#   Debian:  z58_<version>_amd64.deb in build-deb/, tested with dpkg -i, z58ctl
#            --help, the manual pages, the screenshot mode and dpkg -r; lintian
#            must find no error.
set -euo pipefail
ROOT=${1:?source folder}
NATIVE="$ROOT/build"
WIN="$ROOT/build-windows"
DEB="$ROOT/build-deb"
VERSION=$(sed -nE 's/^project\(z58 VERSION ([0-9.]+).*/\1/p' "$ROOT/CMakeLists.txt")
WORK=$(mktemp -d)
. "$ROOT/tools/procs.sh"
wine_used=
cleanup() {
    procs_stop
    # What Wine runs for the installed program ends with its server (this prefix's only).
    if [ -n "$wine_used" ]; then
        WINEPREFIX="$WIN/wineprefix" wineserver -k 2>/dev/null || true
        WINEPREFIX="$WIN/wineprefix" wineserver -w 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The emulators start here in the main shell, never inside $( ) or ( ): only
# here does the trap above know them.
EMU_PTY=
emulator() { # emulator NAME [z58emu options...]: EMU_PTY is its line
    local name=$1; shift
    procs_start_ready '^READY ' "$WORK/$name.out" "$WORK/$name.err" "$NATIVE/tools/z58emu" "$@"
    EMU_PTY=${PROCS_READY#READY }
}
pictures() { # pictures FOLDER: the screenshot mode wrote both windows
    for f in main.png editor.png; do
        [ -s "$1/$f" ] || { echo "FAILED: no $f from the installed program" >&2; return 1; }
    done
}

echo "== Windows installer"
[ -x "$WIN/dist/z58config.exe" ] || "$ROOT/tools/windows.sh" "$ROOT"
SETUP="$WIN/Z58-Setup-$VERSION.exe"
makensis -V2 -DVERSION="$VERSION" -DDIST="$WIN/dist" -DOUT="$SETUP" -DICON="$ROOT/packaging/z58.ico" \
    -DSIZE_KB="$(du -sk "$WIN/dist" | cut -f1)" "$ROOT/packaging/windows/installer.nsi"
chmod +x "$SETUP"
echo "   $(basename "$SETUP"): $(du -k "$SETUP" | cut -f1) KiB"
emulator win --settings-text 'AutoStart=99\n'
wine_used=1
(
    export WINEPREFIX="$WIN/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
    unset DISPLAY
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 || true
    installed="$WINEPREFIX/drive_c/Program Files/Z58"
    wine "$SETUP" /S
    for f in z58config.exe z58ctl.exe qt.conf translations/qtbase_ru.qm uninstall.exe; do
        [ -f "$installed/$f" ] || { echo "FAILED: the installer left out $f" >&2; exit 1; }
    done
    [ -f "$WINEPREFIX/drive_c/users/Public/Desktop/Z58 Service Tool.lnk" ] || { echo "FAILED: no desktop shortcut" >&2; exit 1; }
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Z58' /v UninstallString >/dev/null ||
        { echo "FAILED: no Add/Remove Programs entry" >&2; exit 1; }
    ln -sfn "$EMU_PTY" "$WINEPREFIX/dosdevices/com7"
    wine reg add 'HKLM\SOFTWARE\KM\QV_USB_PORT' /v Port /d COM7 /f >/dev/null 2>&1
    mkdir -p "$WORK/win-shots"
    Z58_SCREENSHOTS="Z:${WORK//\//\\}\\win-shots" QT_QPA_PLATFORM=offscreen wine "$installed/z58config.exe"
    pictures "$WORK/win-shots"
    wine "$installed/uninstall.exe" /S
    for _ in $(seq 200); do [ -e "$installed/z58config.exe" ] || break; sleep 0.1; done
    [ ! -e "$installed/z58config.exe" ] || { echo "FAILED: the uninstaller left the program" >&2; exit 1; }
    [ "$(wine reg query 'HKLM\SOFTWARE\KM\QV_USB_PORT' /v Port 2>/dev/null | grep -o COM7)" = COM7 ] ||
        { echo "FAILED: the uninstaller removed the remembered port" >&2; exit 1; }
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    echo "   installed, ran and removed under Wine"
)
procs_stop

echo "== Debian package"
cmake -S "$ROOT" -B "$DEB" -DCMAKE_BUILD_TYPE=Release -DZ58_BUILD_TESTS=OFF -DZ58_BUILD_BENCH=OFF >/dev/null
cmake --build "$DEB" -j"$(nproc)"
(cd "$DEB" && cpack -G DEB >/dev/null)
PKG="$DEB/z58_${VERSION}_amd64.deb"
echo "   $(basename "$PKG"): $(du -k "$PKG" | cut -f1) KiB"
lintian --fail-on error "$PKG"
dpkg -i "$PKG"
z58ctl --help | grep -q update-firmware || { echo "FAILED: the installed z58ctl" >&2; exit 1; }
# Minimal images tell dpkg to leave manual pages out; elsewhere man must find them.
if command -v man >/dev/null && ! grep -qs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    for page in z58ctl z58emu z58config; do
        man -w "$page" >/dev/null 2>&1 || { echo "FAILED: no manual page for $page" >&2; exit 1; }
    done
fi
Z58_PORT_DIR="$WORK/ports" emulator deb --register COM5 --settings-text 'AutoStart=99\n'
(
    export Z58_PORT_DIR="$WORK/ports" XDG_CONFIG_HOME="$WORK/config"
    mkdir -p "$XDG_CONFIG_HOME/z58" "$WORK/deb-shots"
    echo COM5 > "$XDG_CONFIG_HOME/z58/port"
    Z58_SCREENSHOTS="$WORK/deb-shots" QT_QPA_PLATFORM=offscreen /usr/bin/z58config >/dev/null
    pictures "$WORK/deb-shots"
)
procs_stop
dpkg -r z58
[ ! -e /usr/bin/z58ctl ] || { echo "FAILED: dpkg -r left z58ctl" >&2; exit 1; }
echo "   installed, ran and removed with dpkg"
