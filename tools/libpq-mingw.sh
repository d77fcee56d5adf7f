#!/usr/bin/env bash
# libpq (static, TLS through OpenSSL) for x86_64-w64-mingw32, so the journal
# can reach a workshop's PostgreSQL server from the Windows build. Debian ships
# no libpq for mingw, so it is built from Debian's own postgresql-15 source
# package, its patches applied, against the OpenSSL of tools/openssl-mingw.sh.
# The result is cached; the script prints the install prefix on stdout
# (everything else goes to stderr).
#
#   tools/libpq-mingw.sh         build once (OpenSSL first), then reuse the cache
#   Z58_CACHE_DIR=DIR            cache folder (default ~/.cache/z58)
#
# The prefix holds include/libpq-fe.h (with postgres_ext.h, pg_config_ext.h,
# libpq-events.h and OpenSSL's headers), lib/libpq.a, lib/libssl.a and
# lib/libcrypto.a. Configure the mingw build with -DZ58_PQ_ROOT=PREFIX and
# include cmake/z58-libpq.cmake: it defines Z58::libpq. Linked by hand, the
# order is
#   -lpq -lssl -lcrypto -lsecur32 -lws2_32 -lcrypt32 -lgdi32 -lshell32 -ladvapi32 -luser32
# (secur32: SSPI authentication; shell32: the %APPDATA% folder of the password
# file and client certificates; advapi32: the user name; ws2_32 for both libpq
# and OpenSSL; crypt32, gdi32 and user32 for OpenSSL).
#
# PostgreSQL's own Windows libpq.a is only the DLL's import library, so the
# static one is made here: libpq's objects and the parts of libpgcommon and
# libpgport they use are linked into one object in which only the names of
# libpq's export list stay global. libpq carries a small pthread emulation of
# its own (pthread_mutex_lock and others, with its own mutex layout); left
# global it would collide with winpthreads, which every -posix C++ program with
# std::thread or std::mutex links, and with --allow-multiple-definition one of
# them would silently take the other's calls.
set -euo pipefail

PG_VERSION=15.18
PG_SOURCE_VERSION=15.18-0+deb12u1
CROSS=x86_64-w64-mingw32-
CC_CROSS=${CROSS}gcc-posix
SYSTEM_LIBS=(-lsecur32 -lws2_32 -lcrypt32 -lgdi32 -lshell32 -ladvapi32 -luser32)

# libpq reads SYSCONFDIR/pg_service.conf for a connection naming a service. As
# for OpenSSL, the compiled-in folder is one only an administrator can write,
# not this machine's cache path, which Windows would read as \root\.cache\...
# on the current drive. ("postgres" in the name keeps Debian's build from
# appending /postgresql.)
SYSCONFDIR='C:/Program Files/Common Files/postgresql'

# Every configure flag matters for the cache key.
FLAGS=(
    --host=x86_64-w64-mingw32
    --with-ssl=openssl
    --without-readline
    --without-zlib
    --without-icu
    --without-gssapi
    --without-ldap
    --disable-nls
    CFLAGS=-O2
)
# How the static archive is made is part of the recipe too.
ARCHIVE="one object, global names from exports.txt only, ${SYSTEM_LIBS[*]}"

log() { echo "libpq-mingw: $*" >&2; }
need() { command -v "$1" >/dev/null || { log "$1 is missing (package $2)"; exit 1; }; }

need "$CC_CROSS" gcc-mingw-w64-x86-64-posix
for tool in ar ld nm objcopy windres dlltool; do need "${CROSS}$tool" binutils-mingw-w64-x86-64; done
need make make
need perl perl
need dpkg-source dpkg-dev

OPENSSL=$("$(dirname "$0")/openssl-mingw.sh")
gcc_version=$("$CC_CROSS" -dumpfullversion)
# The OpenSSL prefix's name carries its version and recipe hash.
flags_hash=$(printf '%s\n' "$PG_SOURCE_VERSION" "${FLAGS[@]}" "$SYSCONFDIR" "$ARCHIVE" "$(basename "$OPENSSL")" |
    sha256sum | cut -c1-12)
CACHE=${Z58_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/z58}
PREFIX="$CACHE/libpq-$PG_VERSION-mingw-gcc$gcc_version-$flags_hash"

if [ -f "$PREFIX/.z58-complete" ]; then
    echo "$PREFIX"
    exit 0
fi
rm -rf "$PREFIX"
mkdir -p "$CACHE"

start=$(date +%s)
WORK=$(mktemp -d "$CACHE/libpq-build.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

log "fetching postgresql-15 $PG_SOURCE_VERSION sources"
dsc=$("$(dirname "$0")/debian-source.sh" "$WORK" postgresql-15 "$PG_SOURCE_VERSION")
# dpkg-source applies Debian's patches (the security fixes among them).
dpkg-source -x "$dsc" "$WORK/src" >"$WORK/unpack.log" 2>&1 ||
    { cat "$WORK/unpack.log" >&2; exit 1; }
have=$(sed -n "s/^PACKAGE_VERSION='\(.*\)'$/\1/p" "$WORK/src/configure")
[ "$have" = "$PG_VERSION" ] || { log "the source tree says version $have, expected $PG_VERSION"; exit 1; }

log "configuring (gcc $gcc_version, flags $flags_hash, $(basename "$OPENSSL"))"
mkdir "$WORK/build"
# The static libcrypto needs its Windows libraries in configure's link tests.
(cd "$WORK/build" && "$WORK/src/configure" "${FLAGS[@]}" CC="$CC_CROSS" \
    --prefix="$PREFIX" --sysconfdir="$SYSCONFDIR" \
    CPPFLAGS="-I$OPENSSL/include" LDFLAGS="-L$OPENSSL/lib" LIBS="-lws2_32 -lgdi32 -lcrypt32" \
    >"$WORK/configure.log" 2>&1) ||
    { tail -n 40 "$WORK/configure.log" >&2; exit 1; }
grep -q '^#define USE_OPENSSL 1' "$WORK/build/src/include/pg_config.h" ||
    { log "configure did not take OpenSSL"; exit 1; }

# The DLL is built too (the default target); it proves the objects link whole.
log "building libpq with libpgcommon and libpgport"
make -C "$WORK/build/src/interfaces/libpq" -j2 >"$WORK/build.log" 2>&1 ||
    { tail -n 40 "$WORK/build.log" >&2; exit 1; }
grep -qF "#define SYSCONFDIR \"$SYSCONFDIR\"" "$WORK/build/src/port/pg_config_paths.h" ||
    { log "libpq's SYSCONFDIR is not $SYSCONFDIR"; exit 1; }

log "making the static archive"
LIBPQ="$WORK/build/src/interfaces/libpq"
objects=()
for o in "$LIBPQ"/*.o; do
    # win32ver.o is the DLL's version resource: a program has its own.
    [ "$(basename "$o")" = win32ver.o ] || objects+=("$o")
done
"${CROSS}ld" -r -o "$WORK/libpq-merged.o" "${objects[@]}" \
    -L"$WORK/build/src/common" -L"$WORK/build/src/port" -lpgcommon_shlib -lpgport_shlib
awk '!/^#/ && NF { print $1 }' "$WORK/src/src/interfaces/libpq/exports.txt" > "$WORK/exports"
# mingw reaches other objects' data and functions through .refptr.NAME entries
# merged by name across the program: those for names this object does not
# define must stay global, or libcrypto's own would be discarded for ours.
"${CROSS}nm" -u "$WORK/libpq-merged.o" | awk '{ print ".refptr." $2 }' > "$WORK/refptrs"
cat "$WORK/exports" "$WORK/refptrs" > "$WORK/keep"
"${CROSS}objcopy" --keep-global-symbols="$WORK/keep" "$WORK/libpq-merged.o" "$WORK/libpq.o"
"${CROSS}ar" rcs "$WORK/libpq.a" "$WORK/libpq.o"

"${CROSS}nm" -g --defined-only "$WORK/libpq.o" | awk '{ print $3 }' | sort > "$WORK/global"
missing=$(sort "$WORK/exports" | comm -23 - "$WORK/global")
[ -z "$missing" ] || { log "libpq.a lacks exported names: $missing"; exit 1; }
extra=$(grep -v '^\.refptr\.' "$WORK/global" | comm -13 <(sort "$WORK/exports") - || true)
[ -z "$extra" ] || { log "libpq.a exports names outside libpq's list: $extra"; exit 1; }
# Every reference left open must be met by OpenSSL and the Windows libraries.
cat > "$WORK/link.c" <<'EOF'
#include <libpq-fe.h>
int main(void) { return PQlibVersion() > 0 ? 0 : 1; }
EOF
"$CC_CROSS" -static -I"$WORK/src/src/interfaces/libpq" -I"$WORK/build/src/include" -I"$WORK/src/src/include" \
    "$WORK/link.c" -o "$WORK/link.exe" "$WORK/libpq.a" -L"$OPENSSL/lib" -lssl -lcrypto "${SYSTEM_LIBS[@]}" \
    2>"$WORK/link.log" || { tail -n 40 "$WORK/link.log" >&2; log "libpq.a does not link"; exit 1; }

# Installed under a temporary name and renamed last, so a half-written prefix is
# never taken for a build.
STAGE="$PREFIX.partial"
rm -rf "$STAGE"
mkdir -p "$STAGE/include" "$STAGE/lib/pkgconfig" "$STAGE/share/doc/postgresql" "$STAGE/share/doc/openssl"
install -m 0644 "$WORK/src/src/interfaces/libpq/libpq-fe.h" "$WORK/src/src/interfaces/libpq/libpq-events.h" \
    "$WORK/src/src/include/postgres_ext.h" "$WORK/build/src/include/pg_config_ext.h" "$STAGE/include/"
cp -R "$OPENSSL/include/openssl" "$STAGE/include/"
install -m 0644 "$WORK/libpq.a" "$OPENSSL/lib/libssl.a" "$OPENSSL/lib/libcrypto.a" "$STAGE/lib/"
install -m 0644 "$WORK/src/debian/copyright" "$STAGE/share/doc/postgresql/copyright"
install -m 0644 "$OPENSSL/share/doc/openssl/copyright" "$STAGE/share/doc/openssl/copyright"
cat > "$STAGE/lib/pkgconfig/libpq.pc" <<EOF
prefix=$PREFIX
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: libpq
Description: PostgreSQL client library (static, TLS through OpenSSL, for x86_64-w64-mingw32)
Version: $PG_VERSION
Libs: -L\${libdir} -lpq -lssl -lcrypto ${SYSTEM_LIBS[*]}
Cflags: -I\${includedir}
EOF
{
    printf '%s\n' "$PG_SOURCE_VERSION" "$CC_CROSS $gcc_version" "${FLAGS[@]}" "sysconfdir $SYSCONFDIR" "$ARCHIVE"
    echo "OpenSSL: $(basename "$OPENSSL")"
    cat "$OPENSSL/recipe"
} > "$STAGE/recipe"
echo "built from $PG_SOURCE_VERSION in $(( $(date +%s) - start )) s" > "$STAGE/.z58-complete"
mv "$STAGE" "$PREFIX"
log "installed into $PREFIX in $(( $(date +%s) - start )) s"
echo "$PREFIX"
