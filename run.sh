#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window in the folder this
# was called from (where the preview's qrcode.png goes).
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")"
scripts/install-deps.sh run
scripts/build.sh
program=$(cd "${BUILD_DIR:-build}" && pwd)/kestrova
cd "$here"
exec "$program" "$@"
