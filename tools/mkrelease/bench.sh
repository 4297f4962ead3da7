#!/usr/bin/env bash
# Build time of a five-version release: mkrelease (steps in parallel) against
# the same eight steps built one by one with mkpatch. Not part of CI.
# Usage: tools/mkrelease/bench.sh [JOBS=2] [MIB per data pack=16]
# Trees (in $BENCH_DIR, default /tmp/mrl-release-bench): a data pack edited the
# way content updates edit it (tools/bench_patch/make_game_data.py's blocks),
# a texture pack with replaced chunks and a program with scattered changes.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
jobs="${1:-2}" mib="${2:-16}"
work="${BENCH_DIR:-/tmp/mrl-release-bench}"
cmake --preset native -S "$root" >/dev/null
cmake --build "$root/build/native" --target mkrelease mkpatch -j2 >/dev/null
bin="$root/build/native/bin"
rm -rf "$work" && mkdir -p "$work/trees"

/usr/bin/python3 - "$work/trees" "$mib" "$root/tools/bench_patch" <<'PY'
import random, sys
from pathlib import Path
sys.path.insert(0, sys.argv[3])
from make_game_data import block
trees, size = Path(sys.argv[1]), int(sys.argv[2]) << 20
rng = random.Random(2026)
pack, total = [], 0
while total < size:
    pack.append(block(rng, len(pack)))
    total += len(pack[-1])
textures = bytearray(random.Random(7).randbytes(size // 2))
program = bytearray(random.Random(8).randbytes(2 << 20))
for version in range(1, 6):
    edit = random.Random(version)
    if version > 1:
        pack.extend(pack[10:14]); del pack[10:14]
        for _ in range(4): pack.insert(edit.randrange(len(pack)), block(edit, edit.randrange(1000)))
        for _ in range(2): del pack[edit.randrange(len(pack))]
        for _ in range(2):
            at = edit.randrange(len(textures) - 65536); textures[at:at + 65536] = edit.randbytes(65536)
        for _ in range(20):
            at = edit.randrange(len(program) - 64); program[at:at + 64] = edit.randbytes(64)
    tree = trees / str(version)
    (tree / "Data").mkdir(parents=True)
    (tree / "Data/World.pak").write_bytes(b"".join(pack))
    (tree / "Data/Textures.pak").write_bytes(textures)
    (tree / "Game.exe").write_bytes(program)
    (tree / "Version.Txt").write_bytes(b"%d\r\n" % version)
PY
echo "five trees of $(du -sh "$work/trees/1" | cut -f1) each; $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)"
TIMEFORMAT="  %2R s wall, %1U s user + %1S s system CPU"
echo "== mkrelease --jobs $jobs"
time "$bin/mkrelease" --jobs "$jobs" "$work/trees" "$work/release"
echo "== mkrelease again, nothing changed"
time "$bin/mkrelease" --jobs "$jobs" "$work/trees" "$work/release" >/dev/null
echo "== mkpatch, the same eight steps one at a time"
mkdir -p "$work/alone"
time for n in 1 2 3 4; do
  "$bin/mkpatch" --quiet "$work/trees/$n" "$work/trees/$((n + 1))" "$work/alone/${n}to$((n + 1)).rtp"
  "$bin/mkpatch" --quiet "$work/trees/$((n + 1))" "$work/trees/$n" "$work/alone/$((n + 1))to$n.rtp"
done
for f in "$work"/alone/*.rtp; do cmp -s "$f" "$work/release/${f##*/}" || echo "DIFFERS: ${f##*/}"; done
