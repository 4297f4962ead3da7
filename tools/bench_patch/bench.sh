#!/usr/bin/env bash
# Benchmark of our patch format against bsdiff, xdelta3 and zstd --patch-from.
# Not part of CI. Usage: tools/bench_patch/bench.sh [OLD_COMMIT [NEW_COMMIT]]
#
# Corpus (built in $BENCH_DIR, default /tmp/mrl-bench):
#   - mkpatch.exe and PATCHW32.dll, our own Windows binaries, built (Release,
#     stripped) at two commits: by default the first commit of the patch
#     library and HEAD;
#   - libcrypto.so.3 from two Debian releases of libssl3, libcurl.so.4
#     from two releases of libcurl4 and the ssh program from two releases of
#     openssh-client (apt-get download, dpkg-deb -x);
#   - tomcat10-catalina.jar and tomcat10-coyote.jar from two releases of
#     libtomcat10-java, ct.sym from two releases of openjdk-17-jre-headless;
#   - a generated game-like data pack with inserted, moved, removed and
#     edited blocks (make_game_data.py), and a zip of its blocks, deflated at
#     two levels or stored, with entries edited, added, removed and
#     reordered (make_game_pack.py).
# Prints the table and writes it to $BENCH_DIR/results.md.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
here="$root/tools/bench_patch"
work="${BENCH_DIR:-/tmp/mrl-bench}"
old_commit="${1:-$(git -C "$root" log --follow --format=%H -- patchlib/apply/patch_applier.cpp | tail -n 1)}"
new_commit="${2:-HEAD}"
corpus="$work/corpus"
mkdir -p "$work" "$corpus"

need=()
command -v bsdiff >/dev/null || need+=(bsdiff)
command -v xdelta3 >/dev/null || need+=(xdelta3)
command -v zstd >/dev/null || need+=(zstd)
[ -x /usr/bin/time ] || need+=(time)
if ((${#need[@]})); then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

echo "== native build (mkpatch, patchapply)"
cmake --preset native -S "$root" >/dev/null
cmake --build "$root/build/native" --target mkpatch patchapply -j2 >/dev/null

# Our Windows binaries at a commit, built from that commit's patchlib/ alone
# (tools/bench_patch/wrapper, so the rest of the tree at that commit does not
# matter).
build_windows() {
  local commit="$1" dest="$2" src="$work/src-$1"
  rm -rf "$src" && mkdir -p "$src"
  git -C "$root" archive "$commit" patchlib | tar -x -C "$src"
  cmake -S "$here/wrapper" -B "$src/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
        -DMRL_PATCHLIB_DIR="$src/patchlib" >/dev/null
  cmake --build "$src/build" --target mkpatch patchw32 -j2 >/dev/null
  mkdir -p "$dest"
  x86_64-w64-mingw32-strip -o "$dest/mkpatch.exe" "$(find "$src/build" -name mkpatch.exe | head -1)"
  x86_64-w64-mingw32-strip -o "$dest/PATCHW32.dll" "$(find "$src/build" -name PATCHW32.dll | head -1)"
}

echo "== our Windows binaries at ${old_commit:0:10} and $new_commit"
build_windows "$old_commit" "$work/bin-old"
build_windows "$(git -C "$root" rev-parse "$new_commit")" "$work/bin-new"
for name in mkpatch.exe PATCHW32.dll; do
  mkdir -p "$corpus/own-$name"
  cp "$work/bin-old/$name" "$corpus/own-$name/old"
  cp "$work/bin-new/$name" "$corpus/own-$name/new"
done

echo "== Debian package pairs"
debian_pair() {
  local label="$1" package="$2" old_version="$3" new_version="$4" path="$5"
  mkdir -p "$work/debs" "$corpus/$label"
  for v in "$old_version" "$new_version"; do
    (cd "$work/debs" && ls "${package}_${v//:/%3a}"_*.deb >/dev/null 2>&1 || apt-get download "$package=$v" >/dev/null 2>&1)
    rm -rf "$work/debs/x-$v" && dpkg-deb -x "$work/debs/${package}_${v//:/%3a}"_*.deb "$work/debs/x-$v"
  done
  cp "$work/debs/x-$old_version/$path" "$corpus/$label/old"
  cp "$work/debs/x-$new_version/$path" "$corpus/$label/new"
}
debian_pair debian-libcrypto libssl3 3.0.17-1~deb12u2 3.0.22-1~deb12u2 usr/lib/x86_64-linux-gnu/libcrypto.so.3
debian_pair debian-libcurl libcurl4 7.88.1-10+deb12u5 7.88.1-10+deb12u15 usr/lib/x86_64-linux-gnu/libcurl.so.4.8.0
debian_pair debian-ssh openssh-client 1:9.2p1-2+deb12u7 1:9.2p1-2+deb12u10 usr/bin/ssh
# Deflate-heavy: jars (zip archives of deflated classes) and ct.sym (a zip
# whose 15,710 entries changed only their dates).
debian_pair tomcat10-catalina libtomcat10-java 10.1.55-1~deb12u1 10.1.60-1~deb12u1 usr/share/java/tomcat10-catalina.jar
debian_pair tomcat10-coyote libtomcat10-java 10.1.55-1~deb12u1 10.1.60-1~deb12u1 usr/share/java/tomcat10-coyote.jar
debian_pair jdk17-ct.sym openjdk-17-jre-headless 17.0.19+10-1~deb12u2 17.0.21.1+2-1~deb12u1 \
  usr/lib/jvm/java-17-openjdk-amd64/lib/ct.sym
# A jar of LibreOffice's Java wizards, rebuilt by a security update with every
# entry's content the same and every date changed.
debian_pair libreoffice-wizards libreoffice-java-common 4:7.4.7-1+deb12u13 4:7.4.7-1+deb12u14 \
  usr/share/libreoffice/program/classes/commonwizards.jar

echo "== generated game data pack"
mkdir -p "$corpus/game-data"
/usr/bin/python3 "$here/make_game_data.py" "$corpus/game-data/old" "$corpus/game-data/new" "${BENCH_GAME_MIB:-24}"
mkdir -p "$corpus/game-pack"
/usr/bin/python3 "$here/make_game_pack.py" "$corpus/game-pack/old" "$corpus/game-pack/new"

echo "== measuring"
/usr/bin/python3 "$here/bench.py" "$corpus" "$root/build/native/bin/mkpatch" "$root/build/native/bin/patchapply" \
  "$work/results.md"
