#!/usr/bin/env bash
# Screenshots of the server selection dialog and the progress dialogs under
# Xvfb, for looking at them: build/screenshots/*.png.
#
#   scripts/screenshots.sh            (needs the windows build: dialog_host.exe)
#
# Each dialog is opened by dialog_host.exe in a scratch install directory with
# a Language.Txt and a ServerList.Txt of three servers; the dialog is shot, then
# the host (and only it) is stopped. The Wine server is restarted around the
# run because a server started headless cannot switch to a display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
host="$root/build/windows/tools/dialog_host/dialog_host.exe"
out="$root/build/screenshots"
[ -f "$host" ] || { echo "build dialog_host first: cmake --build --preset windows --target dialog_host" >&2; exit 1; }
mkdir -p "$out"

if [ -z "${MRL_IN_XVFB:-}" ]; then
  source "$root/scripts/wine-env.sh"
  wineserver -k 2>/dev/null || true
  MRL_IN_XVFB=1 xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
  status=$?
  wineserver -k 2>/dev/null || true
  exit $status
fi

export PATH="$PATH:/usr/lib/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${WINEPREFIX:-$root/build/wine-prefix}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Texts 78..82 are lines 78..82 of the text table.
{
  for i in $(seq 1 77); do echo "Text number $i"; done
  echo "Game Server"
  echo "Visit the server's web page"
  echo "http://www.example.com/mirelands"
  echo "Choose the game server you play on. Tick the box below if you reach the Internet through a proxy and give its address."
  echo "Pick a server from the list to read about it here."
} > "$work/Language.Txt"
cat > "$work/ServerList.Txt" <<'LIST'
Greymoor
127.0.0.1:11677
127.0.0.1:11679
Greymoor is the oldest of the realms: quiet marshes, long nights and a patient community. Player versus player only in the arenas.
Greymoor forum
http://www.example.com/greymoor
Saltfen
127.0.0.2:11677
127.0.0.2:11679
Saltfen runs the newest events first. Expect busy evenings and frequent restarts while new content is tried out.
Saltfen news
http://www.example.com/saltfen
Reedwater
127.0.0.3:11677
127.0.0.3:11679
Reedwater is the role-playing server.
Reedwater rules
http://www.example.com/reedwater
LIST

wineserver -p </dev/null >/dev/null 2>&1 || true

# shoot NAME CAPTION ARGS...: start the host, wait for a window with the
# caption, shoot the screen, stop the host.
shoot() {
  local name="$1" caption="$2"; shift 2
  (cd "$work" && exec wine64 "$host" "$@" </dev/null >"$work/$name.out" 2>&1) &
  local pid=$! id=""
  for _ in $(seq 1 100); do
    id="$(xwininfo -root -tree 2>/dev/null | awk -v c="\"$caption\"" 'index($0, c) {print $1; exit}')"
    [ -n "$id" ] && break
    sleep 0.1
  done
  sleep 0.5  # let the posted combo box command run and the box paint
  if [ -n "$id" ]; then
    import -window root -crop 560x420+0+0 "$out/$name.png" 2>/dev/null || import -window root "$out/$name.png"
    echo "$out/$name.png"
  else
    echo "no window \"$caption\" for $name" >&2
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

shoot server_dialog "Mirelands" server
shoot server_dialog_proxy "Mirelands" server --address "10.1.2.3:11677" --proxy 1
shoot searching_dialog "Mirelands Auto Patch" searching
shoot patching_dialog "Mirelands Auto Patch" patching
