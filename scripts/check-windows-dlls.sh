#!/usr/bin/env bash
# Checks that every DLL imported by the programs and plugins in a Windows
# package folder is either in that folder or part of Windows itself.
# Usage: scripts/check-windows-dlls.sh <folder>
set -euo pipefail
dir=$1
objdump=x86_64-w64-mingw32-objdump

# DLLs every 64-bit Windows 10 or 11 has, as far as Qt and the MinGW runtime use them.
system=" advapi32 comctl32 comdlg32 crypt32 d3d11 d3d9 dwmapi dwrite dxgi gdi32 imm32 kernel32 mpr msvcrt
 netapi32 ole32 oleaut32 setupapi shell32 shlwapi user32 userenv uxtheme version winmm winspool.drv ws2_32
 wtsapi32 "
system=" $(echo $system) "

shipped=" "
for f in "$dir"/*.dll; do
    name=$(basename "$f")
    shipped+="$(echo "${name%.dll}" | tr '[:upper:]' '[:lower:]') "
done

missing=0
while IFS= read -r -d '' f; do
    while read -r dll; do
        base=$(echo "$dll" | tr '[:upper:]' '[:lower:]')
        base=${base%.dll}
        if [[ $shipped != *" $base "* && $system != *" $base "* ]]; then
            echo "${f#"$dir"/} needs $dll, which is neither in the package nor part of Windows" >&2
            missing=1
        fi
    done < <("$objdump" -p "$f" | sed -n 's/^\s*DLL Name: //p')
done < <(find "$dir" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
exit "$missing"
