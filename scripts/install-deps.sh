#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing.
# Usage: scripts/install-deps.sh build|run|test|fixtures|bench|windows|deb
set -euo pipefail

build=(cmake make g++ pkg-config qtbase5-dev qtbase5-dev-tools libqrencode-dev zlib1g-dev librsvg2-bin)
run=("${build[@]}" fonts-wqy-microhei qt5-gtk-platformtheme)
test=("${build[@]}" dpkg-dev zbar-tools python3-zxing-cpp python3-openpyxl python3-xlrd xvfb xdotool imagemagick fonts-wqy-microhei desktop-file-utils acl attr)
fixtures=(python3-openpyxl libreoffice-calc python3-uno gnumeric locales)
bench=("${build[@]}" zint valgrind time python3-openpyxl libreoffice-calc zbar-tools imagemagick python3-zxing-cpp)
# The Windows build (scripts/build-windows.sh) and its checks under Wine.
windows=(cmake make g++ pkg-config dpkg-dev xz-utils bzip2 perl python3 g++-mingw-w64-x86-64-posix
         mingw-w64-tools libz-mingw-w64-dev wine64 xvfb xdotool zbar-tools python3-zxing-cpp imagemagick fonts-wqy-microhei
         fonts-dejavu-core python3-openpyxl python3-xlrd librsvg2-bin icoutils nsis)
# The Debian package (scripts/build-deb.sh).
deb=("${build[@]}" dpkg-dev)

case "${1:-}" in
    build) wanted=("${build[@]}") ;;
    run) wanted=("${run[@]}") ;;
    test) wanted=("${test[@]}") ;;
    fixtures) wanted=("${fixtures[@]}") ;;
    bench) wanted=("${bench[@]}") ;;
    windows) wanted=("${windows[@]}") ;;
    deb) wanted=("${deb[@]}") ;;
    *) echo "usage: $0 build|run|test|fixtures|bench|windows|deb" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
    "${sudo[@]}" apt-get update
    "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
