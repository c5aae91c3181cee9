#!/usr/bin/env bash
# Zelmod developer entry point.
#   ./dev.sh run    install what is missing, build, start the program
#   ./dev.sh test   install what is missing, build, run every test headless
#   ./dev.sh sanitize   the same tests once more under ASan and UBSan
#   ./dev.sh fuzz       build the libFuzzer targets with clang, run each FUZZ_SECONDS (30)
#   ./dev.sh valgrind   run mf2t and t2mf under valgrind on every corpus file
#   ./dev.sh package    build the Debian package into build/package and check it
#   ./dev.sh installed-test   install that package into a clean Debian 12 root and use it
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
jobs=$(nproc 2>/dev/null || echo 2)

build_packages=(cmake ninja-build g++ qt6-base-dev qt6-translations-l10n libgl-dev fonts-ipafont-gothic)
test_packages=(libgtest-dev googletest xvfb xauth xdotool openbox util-linux locales)
fuzz_packages=(cmake ninja-build clang-14 libclang-rt-14-dev)
valgrind_packages=(valgrind)
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

configure_and_build() {
    local dir=$1; shift
    local werror=OFF
    [ -n "${CI:-}" ] && werror=ON
    cmake -S . -B "$dir" -G Ninja -DZELMOD_WERROR=$werror "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

run_tests() {
    local dir=$1
    # One X server for the whole run: window tests that need a real window
    # use it, the others use Qt's offscreen platform.
    xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir "$dir" --output-on-failure -j "$jobs"
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
package)
    install_missing "${build_packages[@]}" "${package_packages[@]}"
    # Built as Debian builds its packages: its flags alone (build type None),
    # hardening included.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    configure_and_build build-package -DCMAKE_BUILD_TYPE=None -DZELMOD_BUILD_TESTS=OFF \
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
    configure_and_build build
    tests/reliability/valgrind_converters.sh build/tool "$corpus"
    ;;
*)
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
