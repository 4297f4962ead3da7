#!/usr/bin/env bash
# Builds the kit into build/packages: the client zips (64- and 32-bit, from
# the windows and windows-x86 builds) and the .deb of the release tools and
# reference servers (native build). CPack packages each build tree; only
# what the packages hold is built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh native:mkpatch,mkrelease,patchapply,patch_server,game_server,man_pages \
  windows:MirelandsUpdate,patchw32 windows-x86:MirelandsUpdate,patchw32
out="$PWD/build/packages"
rm -rf "$out"
for preset in native windows windows-x86; do
  echo "== package $preset"
  (cd "build/$preset" && cpack -B "$out" | grep -E '^CPack: - package: ' || exit 1)
done
rm -rf "$out/_CPack_Packages"
ls -l "$out"
