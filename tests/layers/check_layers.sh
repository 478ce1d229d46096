#!/bin/sh
# Fails when a file of src/ includes a layer above its own, or a sibling: the libraries'
# include folders stop that at compile time, and this catches a header no file of its own
# layer compiles. check_layers.sh SRC
src=${1:?usage: check_layers.sh SRC}
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
exit $status
