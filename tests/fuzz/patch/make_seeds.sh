#!/usr/bin/env bash
# Rebuilds the seed patches with the native mkpatch, against the old tree the
# fuzzer creates (keep both in step). Usage: make_seeds.sh build/native/bin/mkpatch
set -euo pipefail
mkpatch="$(realpath "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p old/dir
printf 'hello patch\n' > old/a.txt
printf 'delete me\n' > old/del.txt
python3 -c "import sys; sys.stdout.buffer.write(bytes((i*7)%251 for i in range(2000)))" > old/dir/b.bin

cp -a old new1
printf 'hello patched world\n' > new1/a.txt
rm new1/del.txt
python3 -c "
import sys
d=bytearray((i*7)%251 for i in range(2000)); d[500:510]=b'0123456789'; d=d[1000:]+d[:1000]+b'tail'
sys.stdout.buffer.write(d)" > new1/dir/b.bin
mkdir -p new1/newdir && printf 'fresh\n' > new1/newdir/c.txt

cp -a old new2
printf '' > new2/a.txt
mkdir -p new2/empty

"$mkpatch" --quiet old new1 "$here/seeds/upgrade.mrl"
"$mkpatch" --quiet new1 old "$here/seeds/downgrade.mrl"
"$mkpatch" --quiet old new2 "$here/seeds/small.mrl"
"$mkpatch" --quiet old old "$here/seeds/nothing.mrl"
