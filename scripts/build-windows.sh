#!/usr/bin/env bash
# Cross-builds Kestrova for 64-bit Windows and packs dist/kestrova-<version>-win64.zip
# and the setup program dist/kestrova-<version>-win64-setup.exe.
#
# The first run builds Qt (qtbase) and libqrencode from Debian's own source
# packages with MinGW-w64 into a cache outside the checkout; later runs find
# them there and rebuild only Kestrova, into build-win64/.
#
# Usage: scripts/build-windows.sh [extra cmake arguments]
#        (-DKESTROVA_TESTS=ON also builds the tests; ctest --test-dir build-win64
#        runs them under Wine)
# Environment: KESTROVA_WIN_CACHE (the cache root, default ~/.cache/kestrova),
#              BUILD_DIR (default build-win64), JOBS (default: number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."
src_dir=$PWD

qt_version=5.15.8
qrencode_version=4.1.1
# Bump when the way the cached libraries are built changes.
recipe=1

cache_root=${KESTROVA_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrova}
cache=$cache_root/win64-qt$qt_version-qrencode$qrencode_version-r$recipe
qt_prefix=$cache/qt
qrencode_prefix=$cache/qrencode
build_dir=${BUILD_DIR:-build-win64}
jobs=${JOBS:-$(nproc)}
host=x86_64-w64-mingw32

log() { printf '== %s\n' "$*"; }

scripts/install-deps.sh windows

# The posix-thread variant of the compiler, whatever the alternatives point at.
toolbin=$cache/bin
mkdir -p "$toolbin"
for tool in gcc g++; do
    ln -sf "/usr/bin/$host-$tool-posix" "$toolbin/$host-$tool"
done
export PATH=$toolbin:$PATH

# Debian source packages, through a sources list and package lists of our own:
# the machine's apt configuration is left as it is.
fetch_source() { # fetch_source <source package> <file that must arrive>
    local apt_dir=$cache_root/apt
    local opts=(-o "Dir::Etc::sourcelist=$apt_dir/sources.sources" -o Dir::Etc::sourceparts=-
                -o "Dir::State::Lists=$apt_dir/lists")
    if [[ ! -f $apt_dir/lists/.updated ]]; then
        mkdir -p "$apt_dir/lists/partial"
        local list=/etc/apt/sources.list.d/debian.sources
        [[ -f $list ]] || { echo "no $list to take the Debian archive from" >&2; exit 1; }
        sed 's/^Types:.*/Types: deb-src/' "$list" >"$apt_dir/sources.sources"
        apt-get "${opts[@]}" update
        touch "$apt_dir/lists/.updated"
    fi
    mkdir -p "$cache_root/sources"
    # A missing Debian packaging tarball does not matter where only the
    # upstream tarball is used, so the result is judged by the file wanted.
    (cd "$cache_root/sources" && apt-get "${opts[@]}" source --download-only "$1") || true
    [[ -f $cache_root/sources/$2 ]] || { echo "could not fetch $2 (source package $1)" >&2; exit 1; }
}

# The windows platform plugin includes the Wintab headers, which Debian's
# tarball leaves out; Wine's development package has them, written for Wine's
# own headers, so the macros they need from those (and the calling convention
# the original headers name API) come first.
add_wintab_headers() { # add_wintab_headers <qtbase source folder>
    local work=$cache/wine-dev
    if [[ ! -d $work/usr ]]; then
        mkdir -p "$work"
        (cd "$work" && apt-get download libwine-dev && dpkg-deb -x libwine-dev_*.deb .)
    fi
    local dir=$1/src/3rdparty/wintab
    mkdir -p "$dir"
    {
        printf '%s\n' '#ifndef WINELIB_NAME_AW' '# ifdef UNICODE' '#  define WINELIB_NAME_AW(name) name##W' \
            '# else' '#  define WINELIB_NAME_AW(name) name##A' '# endif' '#endif' \
            '#ifndef DECL_WINELIB_TYPE_AW' '# define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;' '#endif' \
            '#ifndef API' '# define API WINAPI' '#endif'
        cat "$work/usr/include/wine/wine/windows/wintab.h"
    } >"$dir/wintab.h"
    cp "$work/usr/include/wine/wine/windows/pktdef.h" "$dir/"
}

build_qt() {
    log "Qt $qt_version for Windows into $qt_prefix (once; 20 to 70 minutes)"
    local work=$cache/build
    local qtbase=$work/qtbase
    # An interrupted build goes on where it stopped.
    if [[ ! -f $work/.unpacked ]]; then
        fetch_source qtbase-opensource-src "qtbase-opensource-src_$qt_version+dfsg.orig.tar.xz"
        local dsc
        dsc=$(ls "$cache_root"/sources/qtbase-opensource-src_$qt_version+dfsg-*.dsc | sort -V | tail -n1)
        rm -rf "$work"
        mkdir -p "$work"
        # dpkg-source applies Debian's patches (mostly security fixes).
        dpkg-source --no-check -x "$dsc" "$qtbase" >/dev/null
        touch "$work/.unpacked"
    fi
    add_wintab_headers "$qtbase"

    cd "$qtbase"
    if [[ ! -f $work/.configured ]]; then
        # Only what Kestrova and its tests use: Core, Gui, Widgets, Test, the
        # windows and offscreen platforms, the windowsvista style, JPEG and ICO.
        # Without ICU, QTextCodec uses Qt's own codecs (GB18030 among them).
        ./configure -xplatform win32-g++ -device-option CROSS_COMPILE=$host- \
            -prefix "$qt_prefix" -opensource -confirm-license -release -shared \
            -nomake examples -nomake tests -no-compile-examples \
            -no-opengl -no-dbus -no-icu -no-openssl -no-feature-bearermanagement \
            -no-sql-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql \
            -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-harfbuzz -qt-freetype \
            >"$work/configure.log" 2>&1 || { tail -n 40 "$work/configure.log"; exit 1; }
        grep -E 'ICU|JPEG|PNG|iconv' config.summary || true
        (cd src && ../bin/qmake -o Makefile src.pro)
        touch "$work/.configured"
    fi

    # Not all of src: the plugins would want QtNetwork, which is not built.
    nice make -C src -j"$jobs" sub-winmain sub-widgets sub-testlib sub-platformsupport sub-3rdparty-libjpeg
    local plugin
    for plugin in platforms/windows platforms/offscreen styles/windowsvista imageformats/jpeg imageformats/ico; do
        (cd "src/plugins/$plugin" && "$qtbase/bin/qmake" && nice make -j"$jobs" && make install)
    done
    local dir
    for dir in corelib winmain gui widgets testlib platformheaders tools/moc tools/rcc tools/uic; do
        make -C "src/$dir" install
    done
    make sub-qmake-qmake-aux-pro-install_subtargets install_mkspecs
    cd "$src_dir"
    rm -rf "$work"
    touch "$qt_prefix/.complete"
}

build_qrencode() {
    log "libqrencode $qrencode_version for Windows into $qrencode_prefix (once)"
    fetch_source qrencode "qrencode_$qrencode_version.orig.tar.bz2"
    local work=$cache/build-qrencode
    rm -rf "$work" "$qrencode_prefix"
    mkdir -p "$work"
    tar -xjf "$cache_root/sources/qrencode_$qrencode_version.orig.tar.bz2" -C "$work" --strip-components=1
    # Without thread safety it needs no pthread library, and its .pc names none.
    (cd "$work" && ./configure --host=$host --prefix="$qrencode_prefix" --enable-static --disable-shared \
        --without-tools --disable-thread-safety CC=$host-gcc >configure.log 2>&1 \
        && nice make -j"$jobs" >make.log 2>&1 && make install >/dev/null) \
        || { tail -n 40 "$work"/*.log; exit 1; }
    if grep -q pthread "$qrencode_prefix/lib/pkgconfig/libqrencode.pc"; then
        echo "libqrencode.pc still asks for pthread" >&2; exit 1
    fi
    rm -rf "$work"
    touch "$qrencode_prefix/.complete"
}

[[ -f $qt_prefix/.complete ]] || build_qt
[[ -f $qrencode_prefix/.complete ]] || build_qrencode

log "Kestrova into $build_dir"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DKESTROVA_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$src_dir/cmake/mingw-w64-x86_64.cmake" \
    -DKESTROVA_WIN_PREFIXES="$qt_prefix;$qrencode_prefix" "$@" >/dev/null
cmake --build "$build_dir" --parallel "$jobs"

log "Packing"
# The version, the publisher and the programs, as CMake has them.
. "$build_dir/package-info.sh"
name=kestrova-$version-win64
stage=$build_dir/$name
rm -rf "$stage"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/imageformats"
for program in "${programs[@]}"; do
    cp "$build_dir/$program.exe" "$stage/"
done
cp "$qt_prefix"/bin/{Qt5Core,Qt5Gui,Qt5Widgets}.dll "$stage/"
cp "$qt_prefix/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt_prefix/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
cp "$qt_prefix"/plugins/imageformats/{qjpeg,qico}.dll "$stage/imageformats/"
# The MinGW runtime that Qt's DLLs and the program are built against.
gcc_dir=$(dirname "$($host-g++ -print-libgcc-file-name)")
cp "$gcc_dir"/{libstdc++-6,libgcc_s_seh-1}.dll /usr/$host/lib/libwinpthread-1.dll "$stage/"
$host-strip --strip-unneeded "$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll
# UTF-8 with a byte-order mark and CRLF, so that any Notepad shows the Chinese.
{ printf '\xEF\xBB\xBF'; sed 's/$/\r/' scripts/windows-readme.txt; } >"$stage/README.txt"
# Every DLL the program and its plugins import must be in the folder or Windows' own.
scripts/check-windows-dlls.sh "$stage"

mkdir -p dist
rm -f "dist/$name.zip"
(cd "$build_dir" && cmake -E tar cf "$src_dir/dist/$name.zip" --format=zip "$name")
log "dist/$name.zip ($(du -h "dist/$name.zip" | cut -f1))"

# The setup program installs exactly the zip's files: its File lines and its
# uninstaller's Delete lines are made from the same folder.
build_abs=$(cd "$build_dir" && pwd)
nsis=$build_abs/nsis
rm -rf "$nsis"
mkdir -p "$nsis"
(
    cd "$stage"
    find . -type f -printf '%P\n' | LC_ALL=C sort | while IFS= read -r file; do
        dir=$(dirname "$file")
        win=${file//\//\\}
        [[ $dir == . ]] && out='$INSTDIR' || out="\$INSTDIR\\${dir//\//\\}"
        printf 'SetOutPath "%s"\nFile "%s"\n' "$out" "$PWD/$file" >>"$nsis/install-files.nsh"
        printf 'Delete "$INSTDIR\\%s"\n' "$win" >>"$nsis/uninstall-files.nsh"
    done
    # Emptied folders, the deepest first; RMDir leaves one that is not empty.
    find . -mindepth 1 -type d -printf '%P\n' | LC_ALL=C sort -r | while IFS= read -r dir; do
        printf 'RMDir "$INSTDIR\\%s"\n' "${dir//\//\\}" >>"$nsis/uninstall-files.nsh"
    done
)
setup=dist/$name-setup.exe
rm -f "$setup"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DPUBLISHER="$publisher" -DCOPYRIGHT="$copyright" \
    -DICON="$build_abs/icons/kestrova.ico" -DFILES="$nsis" -DOUTFILE="$src_dir/$setup" scripts/windows-setup.nsi
log "$setup ($(du -h "$setup" | cut -f1))"
