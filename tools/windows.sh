#!/usr/bin/env bash
# The Windows stage: cross-build with mingw-w64 (the desktop program with a
# static Qt for mingw, see tools/qt-mingw.sh), then run the Windows test suites
# under a private, headless Wine prefix, take framed pictures of the Windows
# program, and stage what the installer packs in build-windows/dist.
# The device tests reach emulated controllers through Wine's COM ports: each
# emulator's pseudo-terminal is linked as dosdevices/comN, so
# CreateFileA("\\.\COM7") ends up at z58emu.
set -euo pipefail
ROOT=${1:?source folder}
NATIVE="$ROOT/build"
WIN="$ROOT/build-windows"
DIST="$WIN/dist"
start=$(date +%s)

gui=ON
if ! QT=$("$ROOT/tools/qt-mingw.sh"); then
    echo "!! Qt for mingw could not be built or unpacked: the Windows desktop program and its" >&2
    echo "!! window tests are SKIPPED in this run (the core and z58ctl.exe are still built and tested)." >&2
    gui=OFF
fi
# A build folder configured without Qt's toolchain, or with another Qt (another
# recipe), cannot take this one later: its cache keeps the old Qt's packages.
if [ -f "$WIN/CMakeCache.txt" ] && [ "$gui" = ON ] && ! grep -q "Qt6_DIR:PATH=$QT/" "$WIN/CMakeCache.txt"; then
    rm -rf "$WIN/CMakeCache.txt" "$WIN/CMakeFiles"
fi
toolchain=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake")
[ "$gui" = ON ] && toolchain=(-DCMAKE_TOOLCHAIN_FILE="$QT/lib/cmake/Qt6/qt.toolchain.cmake"
                              -DQT_CHAINLOAD_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake")
# The journal's store needs SQLite; Debian has none for mingw (tools/sqlite-mingw.sh).
sqlite=$("$ROOT/tools/sqlite-mingw.sh") || { echo "!! SQLite for mingw could not be built" >&2; exit 1; }
# The workshop server's client: libpq with OpenSSL, static (tools/libpq-mingw.sh).
pq=$("$ROOT/tools/libpq-mingw.sh") || { echo "!! libpq for mingw could not be built" >&2; exit 1; }
cmake -S "$ROOT" -B "$WIN" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DZ58_SQLITE_ROOT="$sqlite" -DZ58_PQ_ROOT="$pq" \
    -DZ58_GEN_RESOURCES="$NATIVE/resources/gen_resources" -DZ58_BUILD_GUI=$gui -DZ58_BUILD_BENCH=OFF >/dev/null
cmake --build "$WIN" -j"$(nproc)"

# What the installer packs: stripped programs, qt.conf and the Russian Qt texts.
rm -rf "$DIST"
mkdir -p "$DIST/translations"
x86_64-w64-mingw32-strip -o "$DIST/z58ctl.exe" "$WIN/tools/z58ctl.exe"
stage_qt() { # stage_qt FOLDER: qt.conf and translations beside a Qt program
    printf '[Paths]\nPrefix=.\nTranslations=translations\n' > "$1/qt.conf"
    mkdir -p "$1/translations"
    cp /usr/share/qt6/translations/qtbase_ru.qm "$1/translations/"
}
if [ "$gui" = ON ]; then
    x86_64-w64-mingw32-strip -o "$DIST/z58config.exe" "$WIN/app/z58config.exe"
    stage_qt "$DIST"
    stage_qt "$WIN/tests"
fi

export WINEPREFIX="$WIN/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
WORK=$(mktemp -d)
. "$ROOT/tools/procs.sh"
cleanup() {
    sh "$ROOT/tests/journal/pg_server.sh" stop "$WORK/pg" 2>/dev/null || true
    procs_stop # the broker stops the emulators it started
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Preparing the Wine prefix (once)..."
    wineboot -i >/dev/null 2>&1 || true
fi
wineserver -p || true  # one persistent server: each test start takes milliseconds (already running is fine)
wine cmd /c exit 0 >/dev/null 2>&1 || true

# Links to pseudo-terminals left by an earlier run may name a terminal number that
# another emulator now has: drop them all before any test looks for a port.
for link in "$WINEPREFIX"/dosdevices/com*; do
    case "$(readlink "$link" 2>/dev/null)" in /dev/pts/*) rm -f "$link" ;; esac
done

emulator() { # emulator COMn [z58emu options...]
    local com=$1; shift
    procs_start_ready '^READY ' "$WORK/$com.out" "$WORK/$com.err" "$NATIVE/tools/z58emu" "$@"
    ln -sfn "${PROCS_READY#READY }" "$WINEPREFIX/dosdevices/${com,,}"
}
# The core suites' controllers sit on ports the window tests do not use.
emulator COM17
emulator COM18 --silent
emulator COM19 --stray 3
# The window tests ask for their own emulators, as they do on Linux.
mkdir -p "$WORK/broker"
procs_start "$ROOT/tools/emu-broker.sh" "$WORK/broker" "$NATIVE/tools/z58emu" "$WINEPREFIX"
broker_win="Z:${WORK//\//\\}\\broker"

# The journal's server tests talk to a throwaway PostgreSQL on 127.0.0.1 (the
# Linux tests' own fixture), with the folder named as Wine sees it.
sh "$ROOT/tests/journal/pg_server.sh" start "$WORK/pg" >/dev/null
pg_win="Z:$WORK/pg"

# z58ctl_series_tests starts z58ctl.exe (beside it in tools/) and asks the broker for its emulators.
suites=(link_tests params_tests device_tests jobs_tests journal_tests journal_server_tests windows_tests z58ctl_series_tests)
[ "$gui" = ON ] && suites+=(gui_tests)
total=0
failed=0
for suite in "${suites[@]}"; do
    exe="$WIN/tests/$suite.exe"
    echo "== $suite (Wine)"
    if Z58_WIN_PORT=COM17 Z58_WIN_SILENT_PORT=COM18 Z58_WIN_STRAY_PORT=COM19 Z58_EMU_BROKER="$broker_win" Z58_TEST_PG="$pg_win" \
       QT_QPA_PLATFORM=offscreen wine "$exe" > "$WORK/$suite.log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed=$((failed + 1))
        # A suite that died before any output leaves nothing to show: that alone must not end the stage.
        grep -v -E '^(z58emu:|This plugin does not support)' "$WORK/$suite.log" | tail -n 80 || true
    fi
    grep -E '^\[  (PASSED|FAILED) ' "$WORK/$suite.log" | sed 's/^/   /' || true
    grep -E '^\[  SKIPPED \] [A-Za-z_0-9]+\.[A-Za-z_0-9]+ \(' "$WORK/$suite.log" | sed 's/^/   /' || true
    n=$(grep -oE '^\[==========\] [0-9]+ tests? from' "$WORK/$suite.log" | tail -1 | grep -oE '[0-9]+' | head -1 || echo 0)
    total=$((total + ${n:-0}))
    echo "   $status"
done

# The windows at every display scale, drawn by the real Windows platform (Wine's
# GDI and DirectWrite, Tahoma from fonts-wine) on Xvfb: LogPixels 96, 120, 144, 192.
if [ "$gui" = ON ]; then
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    # Xvfb picks a free display itself and names it when it is up.
    procs_start_ready '^[0-9]+$' "$WORK/scale-display" "$WORK/scale-xvfb.log" \
        Xvfb -displayfd 1 -screen 0 1600x1200x24 -nolisten tcp
    scale_display=:$PROCS_READY
    for dpi in 96 120 144 192; do
        echo "== gui_tests DisplayScale at $dpi dpi (Wine, windows platform)"
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
        wineserver -k 2>/dev/null || true # the DPI is read when Wine starts anew
        if DISPLAY=$scale_display Z58_TEST_PLATFORM=windows Z58_EMU_BROKER="$broker_win" \
               wine "$WIN/tests/gui_tests.exe" --gtest_filter='DisplayScale.*' > "$WORK/scale-$dpi.log" 2>&1; then
            echo "   ok"
        else
            grep -E 'Failure|Expected|actual|at scale|FAILED' "$WORK/scale-$dpi.log" | head -n 40
            echo "   FAILED"
            failed=$((failed + 1))
        fi
        n=$(grep -oE '^\[==========\] [0-9]+ tests? from' "$WORK/scale-$dpi.log" | tail -1 | grep -oE '[0-9]+' | head -1 || echo 0)
        total=$((total + ${n:-0}))
    done
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
fi

if [ "$gui" = ON ] && [ "$failed" -eq 0 ]; then
    "$ROOT/tools/windows-screenshots.sh" "$ROOT" "$WORK" || failed=$((failed + 1))
fi
echo "Windows stage: $total tests, $failed failed suites, $(( $(date +%s) - start )) s"
[ "$failed" -eq 0 ]
