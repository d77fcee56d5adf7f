#!/usr/bin/env bash
# SQLite (static) for x86_64-w64-mingw32, so the journal's store can be
# cross-built for Windows. Debian ships no SQLite for mingw, so it is built from
# Debian's own sqlite3 source package, its patches applied: the amalgamation
# (sqlite3.c) is generated from that tree with the host compiler and tclsh, as
# upstream does, then compiled with mingw. The result is cached; the script
# prints the install prefix on stdout (everything else goes to stderr).
#
#   tools/sqlite-mingw.sh        build once, then reuse the cache
#   Z58_CACHE_DIR=DIR            cache folder (default ~/.cache/z58)
#
# The prefix holds include/sqlite3.h and lib/libsqlite3.a; configure the mingw
# build with -DZ58_SQLITE_ROOT=PREFIX (see cmake/mingw-w64.cmake) and
# find_package(SQLite3) takes it.
set -euo pipefail

SQLITE_VERSION=3.40.1
SQLITE_SOURCE_VERSION=3.40.1-2+deb12u2
CC_CROSS=x86_64-w64-mingw32-gcc-posix
AR_CROSS=x86_64-w64-mingw32-ar

# Every compile flag matters for the cache key.
FLAGS=(
    -O2
    # Serialized: the journal's sync worker has its own connection on its own thread.
    -DSQLITE_THREADSAFE=1
    # FULL in WAL mode too: a record committed at a job's end survives a power cut.
    -DSQLITE_DEFAULT_WAL_SYNCHRONOUS=2
    # A static program loads no extension DLLs.
    -DSQLITE_OMIT_LOAD_EXTENSION
    # As Debian's libsqlite3, which the Linux build links, so the same SQL
    # behaves alike on both: deleted content is overwritten (owner values in a
    # removed backup do not linger in the file), and the same limits and LIKE.
    -DSQLITE_SECURE_DELETE
    -DSQLITE_LIKE_DOESNT_MATCH_BLOBS
    -DSQLITE_USE_URI=1
    -DSQLITE_MAX_SCHEMA_RETRY=25
    -DSQLITE_MAX_VARIABLE_NUMBER=250000
    -DSQLITE_ALLOW_ROWID_IN_VIEW
)

log() { echo "sqlite-mingw: $*" >&2; }
need() { command -v "$1" >/dev/null || { log "$1 is missing (package $2)"; exit 1; }; }

need "$CC_CROSS" gcc-mingw-w64-x86-64-posix
need "$AR_CROSS" binutils-mingw-w64-x86-64
need cc gcc
need make make
need tclsh tcl
need dpkg-source dpkg-dev
gcc_version=$("$CC_CROSS" -dumpfullversion)
flags_hash=$(printf '%s\n' "$SQLITE_SOURCE_VERSION" "${FLAGS[@]}" | sha256sum | cut -c1-12)
CACHE=${Z58_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/z58}
PREFIX="$CACHE/sqlite-$SQLITE_VERSION-mingw-gcc$gcc_version-$flags_hash"

if [ -f "$PREFIX/.z58-complete" ]; then
    echo "$PREFIX"
    exit 0
fi
rm -rf "$PREFIX"
mkdir -p "$CACHE"

start=$(date +%s)
WORK=$(mktemp -d "$CACHE/sqlite-build.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

log "fetching sqlite3 $SQLITE_SOURCE_VERSION sources"
dsc=$("$(dirname "$0")/debian-source.sh" "$WORK" sqlite3 "$SQLITE_SOURCE_VERSION")
# dpkg-source applies Debian's patches (the security fixes among them).
dpkg-source -x "$dsc" "$WORK/src" >"$WORK/unpack.log" 2>&1 ||
    { cat "$WORK/unpack.log" >&2; exit 1; }
[ "$(cat "$WORK/src/VERSION")" = "$SQLITE_VERSION" ] ||
    { log "the source tree says version $(cat "$WORK/src/VERSION"), expected $SQLITE_VERSION"; exit 1; }

# Debian's tarball is the full tree without the amalgamation: generate it. The
# host build only runs the generators (lemon, mkkeywordhash, the Tcl scripts).
log "generating the amalgamation"
mkdir "$WORK/gen"
(cd "$WORK/gen" && "$WORK/src/configure" --disable-tcl --disable-readline >"$WORK/configure.log" 2>&1) ||
    { tail -n 40 "$WORK/configure.log" >&2; exit 1; }
make -C "$WORK/gen" -j2 sqlite3.c >"$WORK/amalgamation.log" 2>&1 ||
    { tail -n 40 "$WORK/amalgamation.log" >&2; exit 1; }

log "compiling (gcc $gcc_version, flags $flags_hash)"
"$CC_CROSS" "${FLAGS[@]}" -c "$WORK/gen/sqlite3.c" -o "$WORK/sqlite3.o" 2>"$WORK/compile.log" ||
    { tail -n 40 "$WORK/compile.log" >&2; exit 1; }
"$AR_CROSS" rcs "$WORK/libsqlite3.a" "$WORK/sqlite3.o"

# Installed under a temporary name and renamed last, so a half-written prefix is
# never taken for a build.
STAGE="$PREFIX.partial"
rm -rf "$STAGE"
mkdir -p "$STAGE/include" "$STAGE/lib/pkgconfig" "$STAGE/share/doc/sqlite3"
install -m 0644 "$WORK/gen/sqlite3.h" "$WORK/gen/sqlite3ext.h" "$STAGE/include/"
install -m 0644 "$WORK/libsqlite3.a" "$STAGE/lib/"
install -m 0644 "$WORK/src/debian/copyright" "$STAGE/share/doc/sqlite3/copyright"
cat > "$STAGE/lib/pkgconfig/sqlite3.pc" <<EOF
prefix=$PREFIX
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: SQLite
Description: SQL database engine (static, for x86_64-w64-mingw32)
Version: $SQLITE_VERSION
Libs: -L\${libdir} -lsqlite3
Cflags: -I\${includedir}
EOF
printf '%s\n' "$SQLITE_SOURCE_VERSION" "$CC_CROSS $gcc_version" "${FLAGS[@]}" > "$STAGE/recipe"
echo "built from $SQLITE_SOURCE_VERSION in $(( $(date +%s) - start )) s" > "$STAGE/.z58-complete"
mv "$STAGE" "$PREFIX"
log "installed into $PREFIX in $(( $(date +%s) - start )) s"
echo "$PREFIX"
