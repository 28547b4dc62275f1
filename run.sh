#!/usr/bin/env bash
# Installs what is missing, builds PELNO and starts it.
# Unless started with --no-demo, a local demo FTP server (127.0.0.1:2121, user "demo", password "demo") serves a
# small sample site, and a first start stores the profile "demo" for it, so one click on "接続" shows a real tree.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh

demo=1
[ "${1:-}" = "--no-demo" ] && demo=0

pelno_ensure_packages "${PELNO_BUILD_PACKAGES[@]}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    pelno_ensure_packages "${PELNO_DISPLAY_PACKAGES[@]}"
fi
# Users get the optimised program, in a folder of its own; the tests keep their debug build in build/.
pelno_build build-release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELNO_BUILD_TESTS=OFF

bin=build-release/bin
if [ "$demo" -eq 1 ]; then
    tools/demo-site.sh build-release/demo-site
    if [ ! -e "$bin/AppConfig.ini" ]; then
        (umask 077 && printf '[app]\ndefaultConnection=demo\ncn_names=demo\n[cn_demo]\nserver=127.0.0.1:2121\nuserid=demo\npassword=demo\n' >"$bin/AppConfig.ini")
    fi
    /usr/bin/python3 tests/support/ftpserver.py --root build-release/demo-site --user demo --password demo --port 2121 \
        >build-release/demo-server.log 2>&1 &
    server=$!
    trap 'kill $server 2>/dev/null || true' EXIT
    echo "Demo FTP server on 127.0.0.1:2121 (profile \"demo\"), serving build-release/demo-site"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running PELNO under Xvfb (xvfb-run). To see it, run ./run.sh from a desktop session."
    [ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
    xvfb-run -a -s "-screen 0 1280x800x24" "$bin/pelno"
else
    [ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
    "$bin/pelno"
fi
