#!/usr/bin/env bash
# Proves the SQLite for mingw (tools/sqlite-mingw.sh) as the Windows build uses
# it: a small program found through find_package(SQLite3) with the project's
# mingw toolchain and -DZ58_SQLITE_ROOT, cross-built, checked to import no
# SQLite or compiler runtime DLL, and run under Wine in a throwaway prefix
# (WAL mode, a write, reads from a second connection and thread, a reopen).
#
#   tools/sqlite-mingw-check.sh [SOURCE FOLDER]
set -euo pipefail
ROOT=$(cd "${1:-$(dirname "$0")/..}" && pwd)
log() { echo "sqlite-check: $*" >&2; }

SQLITE=$("$ROOT/tools/sqlite-mingw.sh")
WORK=$(mktemp -d /tmp/z58-sqlite-check.XXXXXX)
export WINEPREFIX="$WORK/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() {
    # Only this prefix's server (and the Wine processes under it) is stopped.
    [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; }
    rm -rf "$WORK"
}
trap cleanup EXIT

cmake -S "$ROOT/tests/windows/sqlite_check" -B "$WORK/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DZ58_SQLITE_ROOT="$SQLITE" >"$WORK/configure.log" 2>&1 ||
    { cat "$WORK/configure.log" >&2; exit 1; }
grep -q "SQLite3_LIBRARY:FILEPATH=$SQLITE/lib/libsqlite3.a" "$WORK/build/CMakeCache.txt" ||
    { log "find_package(SQLite3) did not take $SQLITE"; exit 1; }
cmake --build "$WORK/build" >"$WORK/build.log" 2>&1 || { cat "$WORK/build.log" >&2; exit 1; }
EXE="$WORK/build/sqlite_check.exe"

dlls=$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -nE 's/^[[:space:]]*DLL Name: //p' | sort -u)
log "imports: $(echo "$dlls" | tr '\n' ' ')"
if echo "$dlls" | grep -qiE 'sqlite|libstdc|libgcc|libwinpthread'; then
    log "FAILED: the program needs a DLL beside it"
    exit 1
fi

unset DISPLAY
log "running under Wine (a fresh prefix: the first start takes a while)"
db="$WORK/journal.sqlite"
if ! out=$(wine "$EXE" "Z:${db//\//\\}" 2>"$WORK/wine.err"); then
    grep -v '^wine: ' "$WORK/wine.err" >&2 || true
    log "FAILED"
    exit 1
fi
echo "$out"
# The database must be an SQLite file in WAL mode where the host sees it too.
[ "$(head -c 16 "$db" | tr -d '\0')" = "SQLite format 3" ] || { log "FAILED: $db is no SQLite database"; exit 1; }
[ "$(od -An -tu1 -j18 -N2 "$db" | tr -s ' ')" = " 2 2" ] || { log "FAILED: $db is not marked WAL"; exit 1; }
log "ok"
