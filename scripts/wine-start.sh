#!/usr/bin/env bash
# Makes sure the Wine prefix exists and its server runs detached.
source "$(dirname "$0")/wine-env.sh"
wine64 cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
