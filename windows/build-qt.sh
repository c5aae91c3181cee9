#!/bin/bash
# Builds Qt for Windows (static, mingw-w64 with posix threads) from Debian's
# qt6-base source package, once per machine, into a cache outside the clone:
#   windows/build-qt.sh          prints the install folder, building it first if absent
# The folder's name holds the Qt version and a hash of the options below, so
# changing an option builds afresh beside the old one. The build runs at the
# lowest priority: it takes a long while on a small machine.
set -euo pipefail

version=$(dpkg-query -W -f='${Version}' qt6-base-dev | sed 's/+.*//')
cache=${ZELMOD_QT_CACHE:-$HOME/.cache/zelmod}

# Only what Zelmod needs: Core, Gui, Widgets and Test, with Qt's own copies of
# the image, font and text libraries. Debian's source leaves out wintab, hence
# no tablet events; with OpenGL off, dynamicgl has to be off as well.
options=(
    -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_freetype=ON -DFEATURE_harfbuzz=ON -DFEATURE_png=ON -DFEATURE_jpeg=OFF
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
    -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF
    -DFEATURE_testlib=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON
)
hash=$(printf '%s\n' "$version" "${options[@]}" | sha256sum | cut -c1-12)
prefix="$cache/qt-$version-mingw-w64-$hash"
if [ -x "$prefix/bin/qt-cmake" ]; then
    echo "$prefix"
    exit 0
fi

here=$(cd "$(dirname "$0")/.." && pwd)
work="$cache/qt-$version-mingw-w64-$hash.build"
mkdir -p "$work"
log="$work/build.log"
echo "build-qt.sh: building Qt $version for Windows into $prefix (log: $log)" >&2

# The source comes from Debian's archive; apt needs a deb-src line for it.
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main' |
        "${sudo[@]}" tee /etc/apt/sources.list.d/zelmod-deb-src.list >/dev/null
    "${sudo[@]}" apt-get update -qq
fi
if [ ! -d "$work/source" ]; then
    rm -rf "$work/fetch"
    mkdir -p "$work/fetch"
    (cd "$work/fetch" && apt-get source -qq qt6-base="$(dpkg-query -W -f='${Version}' qt6-base-dev)") >>"$log" 2>&1
    mv "$work"/fetch/*/ "$work/source"
    rm -rf "$work/fetch"
fi

start=$(date +%s)
nice -n 19 cmake -S "$work/source" -B "$work/build" -G Ninja \
    --toolchain "$here/toolchain-mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" >>"$log" 2>&1
nice -n 19 cmake --build "$work/build" -j "$(nproc)" >>"$log" 2>&1
nice -n 19 cmake --install "$work/build" >>"$log" 2>&1
echo "build-qt.sh: Qt built in $(( ($(date +%s) - start) / 60 )) minutes" >&2
rm -rf "$work"
echo "$prefix"
