#!/bin/sh
# The key commands, end to end on a one-file tree: keygen never replaces a
# key; verify and patchapply --key accept only what the given key signed,
# and a refused patch leaves the tree as it was.
set -eu
mkpatch=$1 patchapply=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
mkdir old new
echo old > old/a.txt
echo new > new/a.txt
refused() { if "$@" >/dev/null 2>&1; then echo "accepted: $*"; exit 1; fi; }

"$mkpatch" keygen studio >/dev/null
"$mkpatch" keygen other >/dev/null
cp studio.key kept.key
refused "$mkpatch" keygen studio
cmp studio.key kept.key
"$mkpatch" --quiet --key studio.key old new signed.rtp
"$mkpatch" --quiet old new unsigned.rtp

"$mkpatch" verify signed.rtp studio.pub >/dev/null
refused "$mkpatch" verify signed.rtp other.pub
refused "$mkpatch" verify unsigned.rtp studio.pub
refused "$patchapply" --key other.pub signed.rtp old
refused "$patchapply" --key studio.pub unsigned.rtp old
grep -qx old old/a.txt
"$patchapply" --key other.pub --key studio.pub signed.rtp old >/dev/null
grep -qx new old/a.txt
