#!/bin/sh
# Fails when a file of src/ includes a layer above its own, or a sibling; or when a file of a
# layer's core (the files its zuvora_layer() call lists; the ui layer is all widgets) includes
# a widget header of Qt or the ui layer. The libraries' include folders stop most of that at
# compile time; this catches a header no file of its own library compiles.
# check_layers.sh SRC QT_WIDGETS_INCLUDE_DIR
src=${1:?usage: check_layers.sh SRC QT_WIDGETS_INCLUDE_DIR}
widgets=${2:?usage: check_layers.sh SRC QT_WIDGETS_INCLUDE_DIR}
rank() {
  case $1 in
    common) echo 0 ;; xml) echo 1 ;; archive) echo 2 ;; image) echo 3 ;; package) echo 4 ;;
    ui) echo 5 ;; player | packer) echo 6 ;; app) echo 7 ;; *) echo -1 ;;
  esac
}
status=0
for folder in "$src"/*/; do
  layer=$(basename "$folder")
  own=$(rank "$layer")
  [ "$own" -ge 0 ] || { echo "$layer: a folder of src/ that is no layer"; status=1; continue; }
  for file in "$folder"*.h "$folder"*.cpp; do
    [ -f "$file" ] || continue
    for used in $(sed -n 's/^#include "\([a-z]*\)\/.*/\1/p' "$file" | sort -u); do
      [ "$used" = "$layer" ] && continue
      if [ "$(rank "$used")" -lt 0 ] || [ "$(rank "$used")" -ge "$own" ]; then
        echo "${file#"$src"/} includes $used/, which is not below $layer/"
        status=1
      fi
    done
  done
done
# The files a layer's core library is made of, one per line.
core_files() {
  awk '/zuvora_layer\(/ { listing = 1 }
       listing { last = /\)[ \t]*$/; for (i = 1; i <= NF; i++) if ($i ~ /\.(h|cpp)\)?$/) { sub(/\)$/, "", $i); print $i }
                 if (last) listing = 0 }' "$1"
}
for folder in "$src"/*/; do
  layer=$(basename "$folder")
  [ "$layer" = ui ] && continue
  for name in $(core_files "$folder/CMakeLists.txt"); do
    file=$folder$name
    [ -f "$file" ] || continue
    for header in $(sed -n 's/^#include <\(Q[A-Za-z]*\)>.*/\1/p; s/^#include <QtWidgets\/\([A-Za-z]*\)>.*/\1/p' "$file" | sort -u); do
      if [ -f "$widgets/$header" ]; then
        echo "${file#"$src"/} is core code of $layer/ but includes the widget header <$header>"
        status=1
      fi
    done
    if grep -q '^#include "ui/' "$file"; then
      echo "${file#"$src"/} is core code of $layer/ but includes the ui/ widget kit"
      status=1
    fi
  done
done
exit $status
