#!/usr/bin/env bash
# The demo: installs what is missing, builds, then runs the updater under
# Wine on a generated install and tells what happened (tools/demo/demo.py).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
echo "== building (native, windows)"
scripts/build.sh native windows >/dev/null
/usr/bin/python3 tools/demo/demo.py
