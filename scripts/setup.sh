#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# they are missing. Safe to run again: it does nothing when all are there.
set -euo pipefail

packages=(
  cmake ninja-build g++ make
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  libgtest-dev googletest zlib1g-dev libssl-dev libdivsufsort-dev
  clang libclang-rt-14-dev
  wine64 fonts-wine fontconfig xvfb xauth python3 python3-pytest python3-pytest-xdist imagemagick
  x11-apps libcpp-httplib-dev python3-prometheus-client
  help2man dpkg-dev systemd   # the kit: man pages, the .deb's dependencies, unit checks
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The 32-bit smoke test runs the windows-x86 build through the WoW64 part of
# Wine ("wine", not "wine64"); that needs the i386 Wine libraries (about a
# minute on a fresh machine, once).
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  echo "== installing: wine wine32:i386"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends wine wine32:i386 >/dev/null
fi

# Wine draws the title bar's close box with the Marlett font, which it only
# finds through fontconfig: without it the box shows a letter.
marlett=/usr/local/share/fonts/wine/marlett.ttf
if [ ! -e "$marlett" ]; then
  mkdir -p "$(dirname "$marlett")"
  ln -sf /usr/share/wine/fonts/marlett.ttf "$marlett"
  fc-cache -f >/dev/null 2>&1 || true
fi
