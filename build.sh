#!/usr/bin/env bash
# Builds FILARIX64 and then either runs it or runs the whole test suite.
#   ./build.sh run [arguments...]   build, then catalogue (no arguments: the current directory)
#   ./build.sh test                 build (Linux and the Windows exe), then run every test
#                                   through ctest, the Windows exe's suite under Wine
#   ./build.sh sanitize             build the unit tests with ASan+UBSan and run them
#   ./build.sh windows              cross-build build-windows/filarix64.exe with MinGW-w64
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mode=${1:-run}
[ $# -gt 0 ] && shift

# What a fresh Debian 12 machine lacks is installed first.
# libxxhash-dev: its header alone, compiled into both builds.
packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev libxxhash-dev libsqlite3-dev libpq-dev)
[ "$mode" = windows ] && packages=(cmake ninja-build g++-mingw-w64-x86-64-posix libxxhash-dev)
# The end-to-end tests read listings back with python3 and sqlite3 and
# watch which files a run opens with strace; xxhsum checks the XXH3 column
# and b3sum the BLAKE3 one;
# the duplicate tests compare their groups with jdupes', and the database
# tests start a throwaway PostgreSQL server of their own.
[ "$mode" = test ] && packages+=(g++-mingw-w64-x86-64-posix wine64 python3 sqlite3 strace xxhash b3sum jdupes postgresql)
missing=()
for pkg in "${packages[@]}"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" = 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

configure_and_build() {
    local dir=$1
    shift
    cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$dir"
}

# One static executable; the tests are not part of this build.
build_windows() {
    configure_and_build "$here/build-windows" \
        -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake"
}

case "$mode" in
    run)
        configure_and_build "$here/build" >/dev/null
        exec "$here/build/filarix64" "$@"
        ;;
    test)
        # The Windows exe first: the Linux test build runs its suite under
        # Wine. The benchmarks are built too, so that they keep compiling.
        build_windows
        configure_and_build "$here/build" -DFILARIX_BENCH=ON \
            -DFILARIX_WINDOWS_EXE="$here/build-windows/filarix64.exe"
        ctest --test-dir "$here/build" --output-on-failure -j 2
        ;;
    sanitize)
        configure_and_build "$here/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DFILARIX_SANITIZE=ON
        ctest --test-dir "$here/build-sanitize" --output-on-failure -j 2 -L unit
        ;;
    windows)
        build_windows
        echo "built $here/build-windows/filarix64.exe"
        ;;
    *)
        echo "usage: $0 run [arguments...] | test | sanitize | windows" >&2
        exit 2
        ;;
esac
