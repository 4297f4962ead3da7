#!/usr/bin/env bash
# The demo: installs what is missing, builds, makes a release of generated
# game trees with mkrelease, then runs the updater under Wine on an install
# at version 1 and tells what happened (tools/demo/demo.py).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
echo "== building (native, windows)"
scripts/build.sh native windows >/dev/null
/usr/bin/python3 tools/demo/demo.py
