#!/usr/bin/env bash
export PATH="$PATH:/usr/lib/wine"
MRL_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$MRL_ROOT/build/wine-prefix}"
timeout 20 wineserver -w 2>/dev/null || wineserver -k 2>/dev/null || true
