#!/usr/bin/env bash
export PATH="$PATH:/usr/lib/wine"
MRL_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$MRL_ROOT/build/wine-prefix}"
# The server runs persistent (-p): waiting for it to end would only time out.
wineserver -k 2>/dev/null || true
