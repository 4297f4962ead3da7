#!/usr/bin/env bash
# Ends the prefix's server and every program still running in it. The server
# was started persistent (wine-env.sh), so waiting for it to leave on its own
# would only run into the time-out.
export PATH="$PATH:/usr/lib/wine"
MRL_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$MRL_ROOT/build/wine-prefix}"
wineserver -k 2>/dev/null || true
timeout 20 wineserver -w 2>/dev/null || true
