#!/usr/bin/env bash
# Installs what is missing, builds PELNO and its tests, and runs every test.
# Extra arguments go to ctest (for example: ./test.sh -R tst_appconfig).
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
pelno_ensure_packages "${PELNO_BUILD_PACKAGES[@]}"
pelno_build build
cd build
ctest --output-on-failure -j2 "$@"
