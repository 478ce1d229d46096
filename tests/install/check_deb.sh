#!/bin/sh
# The Debian package made by CPack from a release build: its name, what it installs, its
# computed dependencies, stripped programs, manual pages, and lintian without errors.
# Usage: check_deb.sh RELEASE_BUILD_FOLDER
set -eu
build=$1
cd "$build"
rm -f zuvora_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log >&2; exit 1; }
deb=zuvora_1.0_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "no $deb made" >&2; ls >&2; exit 1; }
contents=$(dpkg-deb -c "$deb")
for path in usr/bin/zuvora usr/bin/zvk usr/bin/zvk-build \
    usr/share/applications/org.zuvora.zuvora.desktop usr/share/metainfo/org.zuvora.zuvora.metainfo.xml \
    usr/share/mime/packages/org.zuvora.zuvora.xml usr/share/icons/hicolor/256x256/apps/org.zuvora.zuvora.png \
    usr/share/zuvora/Pip.zvk usr/share/doc/zuvora/copyright usr/share/doc/zuvora/changelog.gz \
    usr/share/man/man1/zuvora.1.gz usr/share/man/man1/zvk.1.gz usr/share/man/man1/zvk-build.1.gz; do
  echo "$contents" | grep -q " \./$path\$" || { echo "$deb lacks /$path" >&2; exit 1; }
done
# The description is one text, not a list joined with ";".
if dpkg-deb -f "$deb" Description | grep -q ';'; then
  echo "a stray ; in the description: $(dpkg-deb -f "$deb" Description)" >&2
  exit 1
fi
# Dependencies read from the programs' libraries, not written by hand.
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || { echo "Depends lacks Qt: $(dpkg-deb -f "$deb" Depends)" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
for program in zuvora zvk zvk-build; do
  if readelf -S "$scratch/usr/bin/$program" | grep -q '\.symtab'; then
    echo "/usr/bin/$program is not stripped" >&2
    exit 1
  fi
done
grep -qx 'Exec=zuvora %F' "$scratch/usr/share/applications/org.zuvora.zuvora.desktop" ||
  { echo "the package's menu entry does not run zuvora from PATH" >&2; exit 1; }
lintian --no-tag-display-limit "$deb" >lintian.log 2>&1 || true
if grep -q '^E:\|no-manual-page' lintian.log; then
  grep '^E:\|no-manual-page' lintian.log >&2
  exit 1
fi
echo "$deb: $(echo "$contents" | wc -l) entries, stripped; lintian: $(grep -c '^W:' lintian.log || true) warnings, no errors"
