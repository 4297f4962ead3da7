#!/usr/bin/env bash
# Runs every test: native unit tests (also under ASan+UBSan and TSan), the
# fuzzers for a short budget, the Windows unit tests and the functional
# tests under Wine, and the 32-bit compile check.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh native native-asan native-tsan fuzz windows \
  windows-x86:MirelandsUpdate,patchw32,mkpatch   # the 32-bit build ships these three

echo "== native unit tests";            ctest --preset native
echo "== native unit tests, ASan+UBSan"; ctest --preset native-asan
echo "== threaded tests, TSan";          ctest --preset native-tsan
echo "== fuzzers";                       scripts/run-fuzzers.sh
source scripts/wine-env.sh
echo "== Windows unit tests under Wine"; ctest --preset windows
echo "== functional tests under Wine"
# Two workers: each test has its own Wine prefix, and most of a test is
# waiting on the program under test.
/usr/bin/python3 -m pytest tests/functional -q -p no:cacheprovider -n 2
wineserver -k 2>/dev/null || true
