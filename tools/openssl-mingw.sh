#!/usr/bin/env bash
# OpenSSL (static libssl.a and libcrypto.a) for x86_64-w64-mingw32: the TLS of
# the Windows build's libpq (tools/libpq-mingw.sh). Debian ships no OpenSSL for
# mingw, so it is built from Debian's own openssl source package, its patches
# applied. The result is cached; the script prints the install prefix on stdout
# (everything else goes to stderr).
#
#   tools/openssl-mingw.sh       build once, then reuse the cache
#   Z58_CACHE_DIR=DIR            cache folder (default ~/.cache/z58)
#
# The prefix holds include/openssl/*.h, lib/libssl.a, lib/libcrypto.a and their
# pkg-config files. A program linking them also needs these Windows libraries,
# in this order after them: -lws2_32 -lgdi32 -lcrypt32 (OpenSSL's own list for
# mingw, also in lib/pkgconfig/libcrypto.pc).
set -euo pipefail

OPENSSL_VERSION=3.0.17
OPENSSL_SOURCE_VERSION=3.0.17-1~deb12u2
CROSS=x86_64-w64-mingw32-
# OpenSSL puts $CROSS before it: x86_64-w64-mingw32-gcc-posix, the compiler of
# the rest of the Windows build.
CC_NAME=gcc-posix

# The folders compiled into libcrypto. It reads DIR/openssl.cnf at start-up
# (libpq asks it to), so they must be Windows paths only an administrator can
# write: left at their default they would be this machine's cache path, which
# on Windows means \root\.cache\... on the current drive, a folder any user may
# create and fill with a configuration that loads their own code.
OPENSSLDIR='C:/Program Files/Common Files/SSL'
MAKE_DIRS=(
    "OPENSSLDIR=$OPENSSLDIR"
    "ENGINESDIR=$OPENSSLDIR/engines-3"
    "MODULESDIR=$OPENSSLDIR/ossl-modules"
)

# Every configure flag matters for the cache key.
FLAGS=(
    mingw64
    no-shared
    # Nothing is loaded from a DLL: the legacy provider is built in.
    no-module
    no-tests
    -O2
)

log() { echo "openssl-mingw: $*" >&2; }
need() { command -v "$1" >/dev/null || { log "$1 is missing (package $2)"; exit 1; }; }

need "${CROSS}$CC_NAME" gcc-mingw-w64-x86-64-posix
need "${CROSS}ar" binutils-mingw-w64-x86-64
need "${CROSS}windres" binutils-mingw-w64-x86-64
need perl perl
need make make
need dpkg-source dpkg-dev
gcc_version=$("${CROSS}$CC_NAME" -dumpfullversion)
flags_hash=$(printf '%s\n' "$OPENSSL_SOURCE_VERSION" "${FLAGS[@]}" "${MAKE_DIRS[@]}" | sha256sum | cut -c1-12)
CACHE=${Z58_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/z58}
PREFIX="$CACHE/openssl-$OPENSSL_VERSION-mingw-gcc$gcc_version-$flags_hash"

if [ -f "$PREFIX/.z58-complete" ]; then
    echo "$PREFIX"
    exit 0
fi
rm -rf "$PREFIX"
mkdir -p "$CACHE"

start=$(date +%s)
WORK=$(mktemp -d "$CACHE/openssl-build.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

log "fetching openssl $OPENSSL_SOURCE_VERSION sources"
dsc=$("$(dirname "$0")/debian-source.sh" "$WORK" openssl "$OPENSSL_SOURCE_VERSION")
# dpkg-source applies Debian's patches (the security fixes among them).
dpkg-source -x "$dsc" "$WORK/src" >"$WORK/unpack.log" 2>&1 ||
    { cat "$WORK/unpack.log" >&2; exit 1; }
have=$(sed -nE 's/^(MAJOR|MINOR|PATCH)=([0-9]+).*/\2/p' "$WORK/src/VERSION.dat" | paste -sd.)
[ "$have" = "$OPENSSL_VERSION" ] ||
    { log "the source tree says version $have, expected $OPENSSL_VERSION"; exit 1; }

log "configuring (gcc $gcc_version, flags $flags_hash)"
mkdir "$WORK/build"
(cd "$WORK/build" && perl "$WORK/src/Configure" "${FLAGS[@]}" \
    --cross-compile-prefix="$CROSS" CC="$CC_NAME" \
    --prefix="$PREFIX" --libdir=lib >"$WORK/configure.log" 2>&1) ||
    { tail -n 40 "$WORK/configure.log" >&2; exit 1; }
log "building libcrypto and libssl"
make -C "$WORK/build" -j2 build_libs "${MAKE_DIRS[@]}" >"$WORK/build.log" 2>&1 ||
    { tail -n 40 "$WORK/build.log" >&2; exit 1; }
# The folders must have reached the library, not only the Makefile.
grep -qF "OPENSSLDIR: \"$OPENSSLDIR\"" "$WORK/build/libcrypto.a" ||
    { log "libcrypto.a does not name $OPENSSLDIR as its folder"; exit 1; }

# Installed under a temporary name and renamed last, so a half-written prefix is
# never taken for a build.
make -C "$WORK/build" install_dev DESTDIR="$WORK/dest" "${MAKE_DIRS[@]}" >"$WORK/install.log" 2>&1 ||
    { tail -n 40 "$WORK/install.log" >&2; exit 1; }
STAGE="$PREFIX.partial"
rm -rf "$STAGE"
mv "$WORK/dest$PREFIX" "$STAGE"
rmdir "$STAGE/bin" 2>/dev/null || true
mkdir -p "$STAGE/share/doc/openssl"
install -m 0644 "$WORK/src/debian/copyright" "$STAGE/share/doc/openssl/copyright"
printf '%s\n' "$OPENSSL_SOURCE_VERSION" "${CROSS}$CC_NAME $gcc_version" "${FLAGS[@]}" "${MAKE_DIRS[@]}" > "$STAGE/recipe"
echo "built from $OPENSSL_SOURCE_VERSION in $(( $(date +%s) - start )) s" > "$STAGE/.z58-complete"
mv "$STAGE" "$PREFIX"
log "installed into $PREFIX in $(( $(date +%s) - start )) s"
echo "$PREFIX"
