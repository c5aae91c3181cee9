#!/usr/bin/env bash
# Zelmod developer entry point.
#   ./dev.sh run    install what is missing, build, start the program
#   ./dev.sh test   install what is missing, build, run every test headless
#   ./dev.sh sanitize   the same tests once more under ASan and UBSan
#   ./dev.sh fuzz       build the libFuzzer targets with clang, run each FUZZ_SECONDS (30)
#   ./dev.sh valgrind   run mf2t and t2mf under valgrind on every corpus file
#   ./dev.sh bench      time the converters, the job and many small files against midicsv
#   ./dev.sh windows    cross-build Zelmod.exe, zelmod-cli.exe and the converters for Windows
#                       (Qt for Windows is built once per machine, ~/.cache/zelmod) and
#                       test them under Wine
#   ./dev.sh windows-zip  the portable folder for Windows users, zipped in build-windows/
#   ./dev.sh screenshots  renew the reference screenshots and the README's; review them
#   ./dev.sh package    build the Debian package into build/package and check it
#   ./dev.sh installed-test   install that package into a clean Debian 12 root and use it
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
jobs=$(nproc 2>/dev/null || echo 2)

build_packages=(cmake ninja-build g++ qt6-base-dev qt6-translations-l10n libgl-dev fonts-ipafont-gothic)
test_packages=(libgtest-dev googletest xvfb xauth xdotool openbox util-linux locales python3-mido parallel)
fuzz_packages=(cmake ninja-build clang-14 libclang-rt-14-dev)
valgrind_packages=(valgrind)
bench_packages=(midicsv time)
windows_packages=(g++-mingw-w64-x86-64-posix wine64 dpkg-dev zip x11-apps netpbm)
package_packages=(dpkg-dev lintian desktop-file-utils appstream)
installed_test_packages=(debootstrap util-linux)
corpus="$here/../shared/corpus"

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "dev.sh: installing ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Warnings are errors in CI.
werror=OFF
[ -n "${CI:-}" ] && werror=ON

configure() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja -DZELMOD_WERROR=$werror "$@" >/dev/null
}

configure_and_build() {
    configure "$@"
    cmake --build "$1" -j "$jobs"
}

run_tests() {
    local dir=$1
    # One X server for the whole run: window tests that need a real window
    # use it, the others use Qt's offscreen platform.
    xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

# The Windows build with the Qt for Windows of windows/build-qt.sh (built
# first when this machine has none); Qt's tools (moc, rcc) are the host's.
windows_build() {
    local qt
    qt=$(windows/build-qt.sh)
    "$qt/bin/qt-cmake" -S windows -B build-windows -G Ninja \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$here/toolchain-mingw-w64.cmake" \
        -DZELMOD_WERROR=$werror -DZELMOD_QT_TRANSLATIONS="$(qtpaths6 --query QT_INSTALL_TRANSLATIONS)" \
        >/dev/null
    cmake --build build-windows -j "$jobs"
}

# Its tests under Wine in a private prefix, the corpus through the Windows
# programs, and the batch files as the job writes them, run by Wine's
# cmd.exe. Wine runs in a Japanese locale (made under the build folder), so
# that its console code page is 932 as on a Japanese Windows.
windows_tests() {
    configure build
    cmake --build build -j "$jobs" --target mf2t t2mf zelmod-cli script_text_tests
    windows_build

    mkdir -p build-windows/locale
    [ -d build-windows/locale/ja_JP.UTF-8 ] ||
        localedef -i ja_JP -f UTF-8 build-windows/locale/ja_JP.UTF-8
    export WINE=/usr/lib/wine/wine64 WINEPREFIX="$here/build-windows/wine" WINEDEBUG=-all
    local japanese=(env LOCPATH="$here/build-windows/locale" LC_ALL=ja_JP.UTF-8)
    "${japanese[@]}" "$WINE" wineboot --init >/dev/null 2>&1
    "${japanese[@]}" ctest --test-dir build-windows --output-on-failure -j "$jobs"
    "${japanese[@]}" windows/corpus_round_trip.sh build/tool build-windows/tool "$corpus"
    "${japanese[@]}" windows/cli_under_wine.sh build/tool build-windows/tool
    "${japanese[@]}" xvfb-run -a -s "-screen 0 1280x1024x24" \
        windows/window_under_wine.sh build/tool build-windows/tool
    "${japanese[@]}" ZELMOD_WINDOWS_TOOL_DIR="$here/build-windows/tool" \
        build/tests/job/script_text_tests --gtest_filter='WindowsScriptUnderWine.*' --gtest_brief=1
}

# The folder a Windows user unpacks and runs: the four programs and a short
# README.txt, zipped as build-windows/Zelmod-VERSION-win64.zip.
windows_zip() {
    windows_build
    local version name
    version=$(sed -n 's/^project(Zelmod VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    name=Zelmod-$version-win64
    rm -rf "build-windows/$name" "build-windows/$name.zip"
    mkdir "build-windows/$name"
    cp build-windows/tool/{Zelmod.exe,zelmod-cli.exe,MF2T.EXE,T2MF.EXE} "build-windows/$name/"
    # UTF-8 with a byte order mark and CR LF, so that Notepad shows it on every Windows.
    { printf '\357\273\277'; sed "s/@VERSION@/$version/; s/\$/\r/" windows/README.txt; } \
        >"build-windows/$name/README.txt"
    (cd build-windows && zip -q -r -X "$name.zip" "$name")
    rm -rf "build-windows/$name"
    ls -l "build-windows/$name.zip"
}

case "${1:-}" in
run)
    install_missing "${build_packages[@]}"
    configure_and_build build
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "dev.sh: Zelmod is a desktop program and needs a graphical display, but neither" >&2
        echo "DISPLAY nor WAYLAND_DISPLAY is set. Run it from a desktop session, or under" >&2
        echo "Xvfb: xvfb-run -a build/tool/Zelmod" >&2
        exit 1
    fi
    exec build/tool/Zelmod
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    configure_and_build build
    run_tests build
    ;;
sanitize)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    configure_and_build build-sanitize -DZELMOD_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        LSAN_OPTIONS=suppressions="$here/tests/lsan.supp" run_tests build-sanitize
    ;;
fuzz)
    install_missing "${fuzz_packages[@]}"
    cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
    cmake --build build-fuzz -j "$jobs"
    fuzz/run.sh build-fuzz "$corpus"
    ;;
screenshots)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    configure_and_build build
    ZELMOD_RENEW_SCREENSHOTS=1 xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir build -R '^Scenes/Screenshots' --output-on-failure
    cp tests/app/screenshots/main-window.png docs/screenshot.png
    cp tests/app/screenshots/open-dialog.png docs/open-dialog.png
    git status --short tests/app/screenshots docs
    ;;
package)
    install_missing "${build_packages[@]}" "${package_packages[@]}"
    # Built as Debian builds its packages: its flags alone (build type None),
    # hardening included.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    configure_and_build build-package -DCMAKE_BUILD_TYPE=None -DZELMOD_BUILD_TESTS=OFF \
        -DZELMOD_STATIC_CONVERTERS=OFF \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
    rm -rf build/package
    (cd build-package && cpack -B "$here/build/package" >/dev/null)
    rm -rf build/package/_CPack_Packages
    desktop-file-validate packaging/*.desktop
    appstreamcli validate --no-net packaging/*.metainfo.xml
    # Errors and warnings fail; the remaining notes are shown.
    lintian --fail-on error,warning --info build/package/zelmod_*.deb
    ls -l build/package/zelmod_*.deb
    ;;
installed-test)
    install_missing "${installed_test_packages[@]}"
    packaging/installed-test.sh build
    ;;
valgrind)
    install_missing "${build_packages[@]}" "${valgrind_packages[@]}"
    # memcheck follows allocations only through a shared C library.
    configure build-valgrind -DZELMOD_STATIC_CONVERTERS=OFF -DZELMOD_BUILD_TESTS=OFF
    cmake --build build-valgrind -j "$jobs" --target mf2t t2mf
    tests/reliability/valgrind_converters.sh build-valgrind/tool "$corpus"
    ;;
bench)
    install_missing "${build_packages[@]}" "${bench_packages[@]}"
    configure_and_build build
    bench/converters.sh build && bench/job.sh build && bench/small_files.sh build
    ;;
windows)
    install_missing "${build_packages[@]}" "${test_packages[@]}" "${windows_packages[@]}"
    windows_tests
    ;;
windows-zip)
    install_missing "${build_packages[@]}" "${windows_packages[@]}"
    windows_zip
    ;;
*)
    awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"
    exit 2
    ;;
esac
