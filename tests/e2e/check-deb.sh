#!/usr/bin/env bash
# Packs a build with scripts/build-deb.sh and checks the package: the
# libraries the program needs are in Depends, and it holds the program, the
# menu entry, the icons and their documentation, nothing else.
# With KESTROVA_DEB_INSTALL=1, as root, also installs it with apt and removes it.
# Usage: check-deb.sh <build dir> <scratch dir, wiped first>
set -euo pipefail
build=$1 scratch=$2
source=$(cd "$(dirname "$0")/../.." && pwd)

fail() { echo "FAIL: $*" >&2; exit 1; }
ok() { echo "ok: $*"; }

rm -rf "$scratch"
"$source/scripts/build-deb.sh" "$build" "$scratch" || fail "scripts/build-deb.sh"
debs=("$scratch"/kestrova_*_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "no single kestrova_<version>_<arch>.deb in $scratch"
deb=$(realpath "${debs[0]}")
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(basename "$deb") == "kestrova_$(field Version)_$(field Architecture).deb" ]] || fail "$(basename "$deb") is misnamed"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
description=$(field Description)
[[ $description == *QR* && $description == *二维码* ]] || fail "the description is not in English and Chinese"
ok "$(basename "$deb"): name, maintainer, description"

# Every shared library the program links against comes from a package in Depends.
depends=$(field Depends)
for soname in $(objdump -p "$build/kestrova" "$build/kestrova-batch" | awk '$1 == "NEEDED" { print $2 }' | sort -u); do
    package=$(dpkg -S "*/$soname" 2>/dev/null | head -n1 | cut -d: -f1) || true
    [[ -n $package ]] || fail "no installed package holds $soname"
    [[ ", $depends" == *", $package "* || ", $depends," == *", $package,"* ]] || fail "Depends ($depends) lacks $package, which holds $soname"
done
ok "Depends: $depends"

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | LC_ALL=C sort)
wanted=(usr/bin/kestrova usr/bin/kestrova-batch usr/share/applications/kestrova.desktop usr/share/icons/hicolor/scalable/apps/kestrova.svg
        usr/share/man/man1/kestrova.1.gz usr/share/man/man1/kestrova-batch.1.gz usr/share/doc/kestrova/copyright usr/share/doc/kestrova/changelog.gz)
for size in 16 24 32 48 64 128 256; do wanted+=("usr/share/icons/hicolor/${size}x$size/apps/kestrova.png"); done
[[ $files == "$(printf '%s\n' "${wanted[@]}" | LC_ALL=C sort)" ]] || fail "the package holds:"$'\n'"$files"
ok "the program, the menu entry, the icons and the documentation, nothing else"

[[ ${KESTROVA_DEB_INSTALL:-} == 1 && $(id -u) == 0 ]] || { echo "not installed for real (KESTROVA_DEB_INSTALL=1 as root does)"; exit 0; }
! dpkg -s kestrova >/dev/null 2>&1 || fail "kestrova is already installed here; not touching it"
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >"$scratch/apt.log" 2>&1 || fail "apt-get install: $(tail -n 5 "$scratch/apt.log")"
listed=$(dpkg -L kestrova)
[[ -x /usr/bin/kestrova ]] || fail "no /usr/bin/kestrova after installing"
DEBIAN_FRONTEND=noninteractive apt-get purge -y kestrova >>"$scratch/apt.log" 2>&1 || fail "apt-get purge: $(tail -n 5 "$scratch/apt.log")"
for path in $listed; do
    [[ -d $path || ! -e $path ]] || fail "$path is left after removing the package"
done
ok "installed with apt and removed, nothing left"
