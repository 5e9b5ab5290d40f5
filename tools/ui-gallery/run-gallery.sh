#!/bin/sh
# run-gallery.sh OUTDIR [BUILD_DIR]
# Writes the gallery's PNGs and index.txt into OUTDIR. The gallery runs on
# an X display of its own with a compositing manager (so layered windows
# show blended, as on Windows), in a private copy of the build's Wine
# prefix (BUILD_DIR, default build/x86_64): see run-on-own-display.sh.
set -eu
[ $# -ge 1 ] || { echo "usage: run-gallery.sh OUTDIR [BUILD_DIR]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${2:-$root/build/x86_64}" && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
winout="Z:$(printf '%s' "$out" | tr / '\\')"
exec "$root/tools/netns/netns-run" --prefix-from "$build" --timeout 400 -- \
  "$here/run-on-own-display.sh" --compositor -- \
  "$build/wine-run" "$build/bin/ui-gallery.exe" "$winout"
