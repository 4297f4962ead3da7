#!/usr/bin/env bash
# wine-run.sh WINE PROGRAM [ARGS...]: the emulator through which CTest lists
# and runs the Windows test programs. WINEPREFIX names the build tree's own
# prefix; it is made on first use and its server started detached
# (wine-env.sh), so that CTest never waits on a server holding its pipes.
wine="$1"
shift
source "$(dirname "$0")/wine-env.sh"
exec "$wine" "$@"
