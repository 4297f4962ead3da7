# Sourced by the scripts that run Windows programs: a headless Wine with a
# prefix of our own under build/. Creates the prefix on first use.
export PATH="$PATH:/usr/lib/wine"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
MRL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$MRL_ROOT/build/wine-prefix}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
  wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f </dev/null >/dev/null 2>&1
  wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
  wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
fi
# Start the server detached, so that it keeps no pipe of ours open.
wineserver -p </dev/null >/dev/null 2>&1 || true
# The first program in a fresh server starts Wine's own services, which keep
# the pipes of whoever ran it open: start them here, detached, so that test
# discovery (run by CTest before any fixture) does not wait on them.
wine64 cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
