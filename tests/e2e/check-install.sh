#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks what a desktop needs is there.
# Usage: check-install.sh <cmake> <build dir> <prefix, wiped first>
set -euo pipefail
cmake=$1 build=$2 prefix=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
ok() { echo "ok: $*"; }

rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" || fail "cmake --install into $prefix"

program=$prefix/bin/kestrova
desktop=$prefix/share/applications/kestrova.desktop
svg=$prefix/share/icons/hicolor/scalable/apps/kestrova.svg
png=$prefix/share/icons/hicolor/256x256/apps/kestrova.png

[[ -f $program && -x $program ]] || fail "no executable $program"
ok "bin/kestrova"
"$prefix/bin/kestrova-batch" --version | grep -qx 'kestrova-batch [0-9.]*' || fail "no working bin/kestrova-batch"
ok "bin/kestrova-batch"

# .xls workbooks are read in the program itself: no helper program, no FreeXL.
[[ ! -e $prefix/libexec/kestrova ]] || fail "a helper program is installed under libexec/kestrova"
if ldd "$program" | grep -i freexl >/dev/null; then fail "$program is linked with FreeXL"; fi
ok "no .xls helper program"

[[ -f $desktop ]] || fail "no $desktop"
report=$(desktop-file-validate "$desktop") || fail "desktop-file-validate rejects $desktop: $report"
# Hints too: two main categories list the program twice in some menus.
[[ -z $report ]] || fail "desktop-file-validate: $report"
for line in 'Type=Application' 'Name=Kestrova' 'Name[zh_CN]=二维码生成工具' 'Exec=kestrova' 'Icon=kestrova' \
    'Categories=Graphics;2DGraphics;RasterGraphics;'; do
    grep -qxF -- "$line" "$desktop" || fail "$desktop lacks the line $line"
done
# The command it runs is the one installed beside it.
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[[ -x $prefix/bin/$exec_name ]] || fail "Exec=$exec_name is not in $prefix/bin"
ok "share/applications/kestrova.desktop"

[[ -f $svg ]] || fail "no $svg"
/usr/bin/python3 - "$svg" <<'EOF' || fail "$svg is not an SVG document"
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
sys.exit(0 if root.tag == "{http://www.w3.org/2000/svg}svg" else 1)
EOF
ok "share/icons/hicolor/scalable/apps/kestrova.svg"

[[ -f $png ]] || fail "no $png"
shape=$(identify -format '%m %w %h' "$png") || fail "identify cannot read $png"
[[ $shape == "PNG 256 256" ]] || fail "$png is $shape, wanted PNG 256 256"
ok "share/icons/hicolor/256x256/apps/kestrova.png"
