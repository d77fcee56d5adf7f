#!/usr/bin/env bash
# Fetches one version of a Debian source package (.dsc, orig and debian tarballs)
# into a folder, through a private apt configuration whose only entries are
# deb-src twins of the machine's own apt sources; nothing under /etc/apt is
# touched. Prints the .dsc path on stdout, everything else goes to stderr.
#
#   tools/debian-source.sh DIR PACKAGE VERSION
set -euo pipefail
DIR=${1:?folder to fetch into}
PACKAGE=${2:?source package}
VERSION=${3:?source version}

APT="$DIR/apt"
mkdir -p "$APT/lists/partial" "$APT/cache/archives/partial" "$APT/sources.list.d"
for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed -E 's/^Types:.*/Types: deb-src/' "$f" > "$APT/sources.list.d/$(basename "$f")"
done
: > "$APT/sources.list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >> "$APT/sources.list"
done
cat > "$APT/apt.conf" <<EOF
Dir::State::Lists "$APT/lists";
Dir::Cache "$APT/cache";
Dir::Etc::SourceList "$APT/sources.list";
Dir::Etc::SourceParts "$APT/sources.list.d";
APT::Sandbox::User "root";
EOF
export APT_CONFIG="$APT/apt.conf"
apt-get update -qq >&2
# grep reads the whole list: with -q its early exit would kill apt-cache with
# SIGPIPE and, under pipefail, fail the check for a version that is there.
if ! apt-cache showsrc "$PACKAGE" 2>/dev/null | grep -x "Version: $VERSION" >/dev/null; then
    echo "debian-source: $PACKAGE $VERSION is not in the archives the apt sources name" >&2
    echo "debian-source: they have: $(apt-cache showsrc "$PACKAGE" 2>/dev/null | sed -n 's/^Version: //p' | tr '\n' ' ')" >&2
    exit 1
fi
(cd "$DIR" && apt-get source --download-only -qq "$PACKAGE=$VERSION" >&2)
# The .dsc names its files without the epoch.
dsc="$DIR/${PACKAGE}_${VERSION#*:}.dsc"
[ -f "$dsc" ] || { echo "debian-source: apt fetched no $dsc" >&2; exit 1; }
echo "$dsc"
