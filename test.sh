#!/usr/bin/env bash
# Runs every test: native unit tests (also under ASan+UBSan and TSan), the
# fuzzers for a short budget, the Windows unit tests and the functional
# tests under Wine, the 32-bit build with its PATCHW32.dll suite, and the
# packages (built, installed, run and removed).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
# The 32-bit build ships the first three; its PATCHW32.dll suite runs too.
scripts/build.sh native native-asan native-tsan fuzz windows \
  windows-x86:MirelandsUpdate,patchw32,mkpatch,patchw32_tests

echo "== native unit tests";            ctest --preset native
echo "== native unit tests, ASan+UBSan"; ctest --preset native-asan
echo "== threaded tests, TSan";          ctest --preset native-tsan
echo "== fuzzers";                       scripts/run-fuzzers.sh
source scripts/wine-env.sh
echo "== Windows unit tests under Wine"; ctest --preset windows
echo "== PATCHW32.dll, 32-bit build";   ctest --test-dir build/windows-x86 -R PatchW32 --no-tests=error
echo "== functional tests under Wine"
# Two workers: each test has its own Wine prefix, and most of a test is
# waiting on the program under test.
/usr/bin/python3 -m pytest tests/functional -q -p no:cacheprovider -n 2 --basetemp=build/functional
echo "== packages: the zips and the .deb, installed, run under Wine and removed"
scripts/package.sh
/usr/bin/python3 -m pytest tests/package -q -p no:cacheprovider
wineserver -k 2>/dev/null || true
