#!/bin/sh
# Pip's project in examples/pip, which a person opens from a clone, is exactly what the
# sample drawing program makes: Pip.zvp and its frames, byte for byte.
# Usage: check_sample_pet.sh MAKE_PIP EXAMPLES_PIP
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
QT_QPA_PLATFORM=offscreen "$1" "$scratch" >/dev/null
cmp "$scratch/Pip.zvp" "$2/Pip.zvp"
diff -r "$scratch/frames" "$2/frames"
echo "examples/pip matches what make_pip draws"
