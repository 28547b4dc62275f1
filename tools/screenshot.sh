#!/usr/bin/env bash
# Redraws docs/images/start.png, browser.png and progress.png (an upload under way) from the real program, offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
pelno_ensure_packages "${PELNO_BUILD_PACKAGES[@]}"
pelno_build build
mkdir -p docs/images
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" PATH="$PWD/build/bin:$PATH" \
    build/bin/pelno_screenshot "$PWD/tools/demo-site.sh" "$PWD/docs/images"
