#!/bin/sh
# Installs the build into a temporary prefix and checks what lands there with the
# freedesktop validators: check_install.sh BUILD_DIR
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/zuvora bin/zvk bin/zvk-build share/applications/org.zuvora.zuvora.desktop share/metainfo/org.zuvora.zuvora.metainfo.xml \
    share/mime/packages/org.zuvora.zuvora.xml share/zuvora/Pip.zvk; do
  [ -s "$prefix/$file" ] || { echo "missing from the install: $file" >&2; exit 1; }
done
for size in 16 24 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/org.zuvora.zuvora.png
  [ -s "$icon" ] || { echo "missing icon: $icon" >&2; exit 1; }
done
desktop-file-validate "$prefix/share/applications/org.zuvora.zuvora.desktop"
# Outside /usr the menu entry names the program by its full path: ~/.local/bin may not be on PATH.
grep -qxF "Exec=\"$prefix/bin/zuvora\" %F" "$prefix/share/applications/org.zuvora.zuvora.desktop" ||
  { echo "the menu entry does not name $prefix/bin/zuvora" >&2; exit 1; }
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.zuvora.zuvora.metainfo.xml" >/dev/null
# The type definitions must be ones the desktop's MIME database takes.
update-mime-database "$prefix/share/mime" >/dev/null
grep -q 'application/x-zuvora-package' "$prefix/share/mime/globs2"
"$prefix/bin/zvk" list "$prefix/share/zuvora/Pip.zvk" | grep -q '^zvk.xml'
echo "install tree and validators: fine"
