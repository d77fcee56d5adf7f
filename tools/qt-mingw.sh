#!/usr/bin/env bash
# Qt 6 (qtbase, static) for x86_64-w64-mingw32, so the desktop program can be
# cross-built for Windows here. Debian ships no Qt for mingw, so it is built from
# Debian's own qt6-base source package with Debian's Qt of the same version as
# host tools. The result is cached; the script prints the install prefix on stdout
# (everything else goes to stderr).
#
#   tools/qt-mingw.sh            build once, then reuse the cache
#   Z58_QT_MINGW_TARBALL=F       unpack F (a prebuilt copy of the same recipe) instead
#                                of building; F.sha256 beside it must match
#   Z58_CACHE_DIR=DIR            cache folder (default ~/.cache/z58)
set -euo pipefail

QT_VERSION=6.4.2
QT_SOURCE_VERSION=6.4.2+dfsg-10
CXX_CROSS=x86_64-w64-mingw32-g++-posix

# Every configure flag matters for the cache key.
FLAGS=(
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=OFF
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DINPUT_opengl=no -DFEATURE_vulkan=OFF
    # direct2d and directwrite3 stay on (their defaults): without direct2d the
    # Windows plugin has no DirectWrite font engine at all, and every scaled
    # display (125 %, 150 %) would draw its text through GDI with a world
    # transform, which is not what Qt does on Windows elsewhere.
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
    # Debian's +dfsg tarball drops src/3rdparty/wintab, which tablet support includes.
    -DFEATURE_tabletevent=OFF
    -DFEATURE_icu=OFF
    # No mingw builds of these libraries exist here: use Qt's bundled copies.
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_doubleconversion=OFF
)

log() { echo "qt-mingw: $*" >&2; }

command -v "$CXX_CROSS" >/dev/null || { log "$CXX_CROSS is missing (package g++-mingw-w64-x86-64-posix)"; exit 1; }
gcc_version=$("$CXX_CROSS" -dumpfullversion)
flags_hash=$(printf '%s\n' "$QT_SOURCE_VERSION" "${FLAGS[@]}" | sha256sum | cut -c1-12)
CACHE=${Z58_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/z58}
PREFIX="$CACHE/qt-$QT_VERSION-mingw-gcc$gcc_version-$flags_hash"

if [ -f "$PREFIX/.z58-complete" ]; then
    echo "$PREFIX"
    exit 0
fi
rm -rf "$PREFIX"
mkdir -p "$CACHE"

# Prebuilt tarballs known to hold this very recipe (sha256). One of another
# recipe (the older one without Direct2D has no DirectWrite font engine) is left
# aside and Qt is built from source.
RECIPE_TARBALLS=(
    74c8d307f6d5627a6fea1990f18d7ace9c1548d4071d6ed0052bdb1d270eda2f # 2026-12-09, Direct2D and DirectWrite 3 on
)
if [ -n "${Z58_QT_MINGW_TARBALL:-}" ] && [ -f "$Z58_QT_MINGW_TARBALL" ]; then
    have=$(sha256sum "$Z58_QT_MINGW_TARBALL" | cut -d' ' -f1)
    known=no
    for sum in "${RECIPE_TARBALLS[@]}"; do [ "$sum" = "$have" ] && known=yes; done
    if [ "$known" = no ]; then
        log "$Z58_QT_MINGW_TARBALL was built with other flags than these: building from source"
        unset Z58_QT_MINGW_TARBALL
    fi
fi

if [ -n "${Z58_QT_MINGW_TARBALL:-}" ]; then
    tarball=$Z58_QT_MINGW_TARBALL
    [ -f "$tarball" ] || { log "Z58_QT_MINGW_TARBALL names no file: $tarball"; exit 1; }
    [ -f "$tarball.sha256" ] || { log "no checksum beside the tarball: $tarball.sha256"; exit 1; }
    want=$(cut -d' ' -f1 "$tarball.sha256")
    have=$(sha256sum "$tarball" | cut -d' ' -f1)
    if [ "$want" != "$have" ]; then
        log "checksum mismatch for $tarball (expected $want, got $have)"
        exit 1
    fi
    log "unpacking $tarball"
    unpack=$(mktemp -d "$CACHE/qt-unpack.XXXXXX")
    tar -xJf "$tarball" -C "$unpack"
    top=$(find "$unpack" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    [ -x "$top/bin/qt-cmake" ] || { log "the tarball holds no Qt install (no bin/qt-cmake)"; rm -rf "$unpack"; exit 1; }
    mv "$top" "$PREFIX"
    rm -rf "$unpack"
    echo "tarball sha256 $have" > "$PREFIX/.z58-complete"
    echo "$PREFIX"
    exit 0
fi

host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
case "$host_version" in
"$QT_VERSION"*) ;;
*) log "host Qt must be $QT_VERSION (qt6-base-dev, qt6-base-dev-tools); found '${host_version:-none}'"; exit 1 ;;
esac

start=$(date +%s)
WORK=$(mktemp -d "$CACHE/qt-build.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# A private apt configuration with deb-src entries for the archives and suites the
# machine's own sources already name; nothing under /etc/apt is touched.
APT="$WORK/apt"
mkdir -p "$APT/lists/partial" "$APT/cache/archives/partial" "$APT/sources.list.d"
for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed -E 's/^Types:.*/Types: deb-src/' "$f" > "$APT/sources.list.d/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >> "$APT/sources.list"
done
touch "$APT/sources.list"
cat > "$APT/apt.conf" <<EOF
Dir::State::Lists "$APT/lists";
Dir::Cache "$APT/cache";
Dir::Etc::SourceList "$APT/sources.list";
Dir::Etc::SourceParts "$APT/sources.list.d";
APT::Sandbox::User "root";
EOF
log "fetching qt6-base $QT_SOURCE_VERSION sources"
export APT_CONFIG="$APT/apt.conf"
apt-get update -qq >&2
(cd "$WORK" && apt-get source --download-only -qq "qt6-base=$QT_SOURCE_VERSION" >&2)
unset APT_CONFIG
orig=$(ls "$WORK"/qt6-base_*.orig.tar.xz)
mkdir "$WORK/src"
tar -xJf "$orig" -C "$WORK/src" --strip-components=1

cat > "$WORK/toolchain.cmake" <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

log "configuring (gcc $gcc_version, flags $flags_hash)"
cmake -G Ninja -S "$WORK/src" -B "$WORK/build" \
    -DCMAKE_TOOLCHAIN_FILE="$WORK/toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" "${FLAGS[@]}" >"$WORK/configure.log" 2>&1 ||
    { tail -n 40 "$WORK/configure.log" >&2; exit 1; }
log "building (about half an hour on two cores)"
cmake --build "$WORK/build" --parallel "$(nproc)" >"$WORK/build.log" 2>&1 ||
    { tail -n 40 "$WORK/build.log" >&2; exit 1; }
cmake --install "$WORK/build" >/dev/null
echo "built from $QT_SOURCE_VERSION in $(( $(date +%s) - start )) s" > "$PREFIX/.z58-complete"
log "installed into $PREFIX in $(( $(date +%s) - start )) s"
echo "$PREFIX"
