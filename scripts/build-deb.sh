#!/usr/bin/env bash
# Packs Kestrova as a Debian package: <out dir>/kestrova_<version>_<arch>.deb.
#
# Usage: scripts/build-deb.sh [build dir [out dir]]
#   Without a build dir it builds build-deb/ (Release, no tests) first; with
#   one it packs that build as it is. The out dir defaults to dist/.
# Environment: DEB_MAINTAINER ("Name <address>") for the Maintainer field.
# The dependencies are computed from the programs by dpkg-shlibdeps.
set -euo pipefail
cd "$(dirname "$0")/.."

maintainer=${DEB_MAINTAINER:-Kestrova developers <packages@kestrova.invalid>}
build_dir=${1:-}
out_dir=${2:-dist}

scripts/install-deps.sh deb
if [[ -z $build_dir ]]; then
    build_dir=build-deb
    # Debian's hardening flags (stack protector, fortify, relro, bindnow).
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DKESTROVA_TESTS=OFF \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
    nice cmake --build "$build_dir" --parallel "${JOBS:-$(nproc)}"
fi
# The version, the copyright and the programs, as CMake has them.
. "$build_dir/package-info.sh"
arch=$(dpkg --print-architecture)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root/DEBIAN"
chmod 755 "$root"
DESTDIR=$root cmake --install "$build_dir" --prefix /usr >/dev/null

# Exactly the programs CMake names, and each stripped of its debugging data.
installed=$(cd "$root/usr/bin" && ls | LC_ALL=C sort)
wanted=$(printf '%s\n' "${programs[@]}" | LC_ALL=C sort)
if [[ $installed != "$wanted" ]]; then
    echo "usr/bin holds $(echo $installed), the package ships $(echo $wanted)" >&2
    exit 1
fi
binaries=()
for program in "${programs[@]}"; do
    binaries+=("$root/usr/bin/$program")
    strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/$program"
done

# The last commit's time stamps the changelog and, through dpkg-deb, the files.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
when=$(date -R -u -d "@$SOURCE_DATE_EPOCH")
doc=$root/usr/share/doc/kestrova
mkdir -p "$doc"
gzip -9n "$root"/usr/share/man/man1/*.1
printf 'kestrova (%s) unstable; urgency=medium\n\n  * Version %s.\n\n -- %s  %s\n' \
    "$version" "$version" "$maintainer" "$when" | gzip -9n >"$doc/changelog.gz"
cat >"$doc/copyright" <<COPYRIGHT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Kestrova

Files: *
Copyright: ${copyright#Copyright © }
License: other
 All rights reserved by the copyright holders.
COPYRIGHT
chmod 644 "$doc"/*

# dpkg-shlibdeps reads the package's names from a debian/control of its own.
mkdir -p "$work/src/debian"
printf 'Source: kestrova\n\nPackage: kestrova\nArchitecture: any\n' >"$work/src/debian/control"
depends=$(cd "$work/src" && dpkg-shlibdeps -O "${binaries[@]}" | sed -n 's/^shlibs:Depends=//p')
[[ -n $depends ]] || { echo "dpkg-shlibdeps found no dependencies" >&2; exit 1; }

cat >"$root/DEBIAN/control" <<CONTROL
Package: kestrova
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Section: graphics
Priority: optional
Description: QR code generator for text and workbook rows
 Kestrova encodes text as a QR code while it is typed, shows it and saves
 it as a PNG or JPEG picture. From an .xlsx, .xls or .csv workbook it writes
 one QR code picture for each row of the device and board sheets.
 .
 二维码生成工具：输入文字即时生成并显示二维码，可另存为 PNG 或 JPG 图片；
 读取 .xlsx、.xls 或 .csv 工作簿，为设备表和板卡表的每一行生成一张二维码图片。
CONTROL
(cd "$root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

mkdir -p "$out_dir"
deb=$out_dir/kestrova_${version}_$arch.deb
rm -f "$deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "== $deb ($(du -h "$deb" | cut -f1))"
