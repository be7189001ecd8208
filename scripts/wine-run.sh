#!/usr/bin/env bash
# Runs a Windows program under Wine, with the DLLs and Qt plugins of the
# cross-built libraries and the MinGW runtime on its paths, in a Wine prefix
# and home folder of its own, so nothing asks a question or touches $HOME.
# Usage: scripts/wine-run.sh <library prefixes, ':' between> <program.exe> [arguments]
# Environment: KESTROVA_WINE_STATE, where the prefix and home live
# (default: a folder under /tmp for this user). Needs an X server in DISPLAY
# even for Qt's offscreen platform: Wine makes every window through X, and
# Qt's event dispatcher needs one. Programs run at the same time share it,
# so run them all under one, e.g. xvfb-run -a ctest --test-dir build-win64.
# KESTROVA_WINE_SHOW names a file the program writes (a Qt Test log: its
# standard output does not come through Wine here) to print when it ends.
set -euo pipefail
prefixes=$1
shift

state=${KESTROVA_WINE_STATE:-${TMPDIR:-/tmp}/kestrova-wine-$(id -u)}
mkdir -p "$state/home"
export HOME=$state/home WINEPREFIX=$state/prefix WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
# Qt's offscreen platform on Windows looks for fonts in one folder only.
if [[ -z ${QT_QPA_FONTDIR:-} && -d /usr/share/fonts/truetype/dejavu ]]; then
    export WINEQT_QPA_FONTDIR=Z:/usr/share/fonts/truetype/dejavu
fi
# Wine keeps the QT_ variables of Linux from Windows programs; WINEQT_X
# reaches them as QT_X. Without this QT_QPA_PLATFORM=offscreen is lost and
# the tests run on the windows platform, with Windows' own file dialogs.
while IFS='=' read -r name _; do
    [[ $name == QT_* ]] && export "WINE$name=${!name}"
done < <(env)

# Debian's wine64 package keeps its programs out of PATH.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

windows_path() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
path_list=("$gcc_dir" /usr/x86_64-w64-mingw32/lib)
plugin_list=()
IFS=: read -ra list <<<"$prefixes"
for p in "${list[@]}"; do
    [[ -d $p/bin ]] && path_list=("$p/bin" "${path_list[@]}")
    [[ -d $p/plugins ]] && plugin_list+=("$p/plugins")
done
winpath=
for d in "${path_list[@]}"; do winpath+="${winpath:+;}$(windows_path "$d")"; done
export WINEPATH=$winpath${WINEPATH:+;$WINEPATH}
plugins=
for d in "${plugin_list[@]}"; do plugins+="${plugins:+;}$(windows_path "$d")"; done
[[ -n $plugins ]] && export QT_PLUGIN_PATH=$plugins

[[ -n ${DISPLAY:-} ]] || { echo "$0: no X server (DISPLAY); try xvfb-run -a $0 ..." >&2; exit 1; }

# A fresh prefix is made once; tests started together wait for it.
if [[ ! -f $WINEPREFIX/.ready ]]; then
    (
        flock 9
        if [[ ! -f $WINEPREFIX/.ready ]]; then
            "$wine" wineboot --init >"$state/wineboot.log" 2>&1
            "$wineserver" --wait
            touch "$WINEPREFIX/.ready"
        fi
    ) 9>"$state/.lock"
fi
if [[ -z ${KESTROVA_WINE_SHOW:-} ]]; then
    exec "$wine" "$@"
fi
rm -f "$KESTROVA_WINE_SHOW"
status=0
"$wine" "$@" || status=$?
[[ -f $KESTROVA_WINE_SHOW ]] && cat "$KESTROVA_WINE_SHOW"
exit "$status"
