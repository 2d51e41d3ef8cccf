#!/usr/bin/env bash
# Installs what the station needs (Debian packages), builds it, and then runs a production job
# against the built-in simulated writer (demo), runs the test suite (test), or installs the
# programs into a prefix, /usr/local unless another is given (install). `windows` cross-builds
# the core and its tests for Windows and runs them under wine64.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${KVR_JOBS:-2}"

# fonts-wqy-microhei: the window's Chinese captions, tabs and messages; a fresh machine has no
# font with those glyphs and would show boxes. libcli11-dev parses every program's command line;
# groff renders the man pages and bash-completion loads the completions in their tests;
# desktop-file-utils checks the installed desktop entry; nlohmann-json3-dev writes the JSON Lines
# production report. libsqlite3-dev and libpq-dev are the line database's engines; postgresql
# is the server its tests start a cluster of their own on.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
          libgtest-dev libcli11-dev fonts-dejavu-core fonts-wqy-microhei sdcc sdcc-ucsim groff-base
          bash-completion desktop-file-utils nlohmann-json3-dev libsqlite3-dev libpq-dev postgresql)

# The Windows build of the core and its tests: mingw-w64 with the posix thread model, wine64 to
# run the tests, GoogleTest's sources to build it for Windows; sdcc assembles the ISP demo and
# the header-only libraries serve both builds.
windows_packages=(cmake ninja-build sdcc libcli11-dev nlohmann-json3-dev
                  g++-mingw-w64-x86-64-posix wine64 googletest)

install_missing() {  # install_missing [PACKAGE...]: the station's packages unless others are named
  local missing=()
  [ $# -eq 0 ] && set -- "${packages[@]}"
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {  # build DIR [cmake options...]
  local dir="$1"
  shift
  cmake -S "$here" -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
}

case "${1:-}" in
  demo)
    install_missing
    build "$here/build" -DCMAKE_BUILD_TYPE=Release -DKVR_BUILD_TESTS=OFF
    "$here/build/src/kvr-cli" --simulate --settings "$here/build/demo-settings.ini" \
      --load "$here/examples/demo-4k.hex" \
      --auto-sequence "Read MCU ID,Erase MCU,Check MCU Empty,Program File,Verify Program" \
      --report "$here/build/demo-report.csv" --function "Auto Program"
    ;;
  install)
    install_missing
    build "$here/build" -DCMAKE_BUILD_TYPE=Release -DKVR_BUILD_TESTS=OFF
    prefix="${2:-/usr/local}"
    mkdir -p "$prefix" 2>/dev/null || true
    if [ -w "$prefix" ]; then
      cmake --install "$here/build" --prefix "$prefix"
    else
      sudo cmake --install "$here/build" --prefix "$prefix"
    fi
    ;;
  test)
    install_missing
    build "$here/build-check" -DCMAKE_BUILD_TYPE=Debug -DKVR_SANITIZE=ON
    export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
    export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
    export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp}"
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir "$here/build-check" --output-on-failure -j "$jobs"
    ;;
  windows)
    install_missing "${windows_packages[@]}"
    dir="$here/build-windows"
    build "$dir" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" -DKVR_CORE_ONLY=ON \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 -DKVR_BUILD_BENCH=OFF
    # Each test program runs once, whole, under wine64 (CTest's emulator), headless, in a wine
    # prefix of its own. The prefix is booted first with its server kept up, so that its
    # services neither hold CTest's output open nor start again for every program.
    wine=/usr/lib/wine
    export WINEPREFIX="$dir/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    export GTEST_BRIEF=1 GTEST_COLOR=no
    unset DISPLAY WAYLAND_DISPLAY
    mkdir -p "$WINEPREFIX"
    "$wine/wineserver" -p </dev/null >/dev/null 2>&1
    # The boot's own status is no verdict: without the 32-bit half of wine it fails to start
    # a 32-bit helper (status c0000135, which the shell sees as 53) at times and not at
    # others, and the prefix still serves 64-bit programs. The tests decide; what the boot
    # said is shown when it did not end well.
    boot=0
    "$wine/wine64" wineboot </dev/null >"$dir/wine-boot.log" 2>&1 || boot=$?
    if [ "$boot" -ne 0 ]; then
      echo "wineboot ended with status $boot; it said:"
      cat "$dir/wine-boot.log"
    fi
    status=0
    ctest --test-dir "$dir" -L cross -V > "$dir/windows-tests.log" 2>&1 || status=$?
    "$wine/wineserver" -k || true
    # What the programs said (gtest: failures and the summaries), and each program's verdict.
    grep -E '^[0-9]+: |Test +#' "$dir/windows-tests.log" |
      grep -vE '^[0-9]+: (Test command|Working Directory|Test timeout|Running main)' || true
    count() {  # count PATTERN: the sum of the numbers gtest's summary lines give
      sed -n "s/^[0-9]*: \[  $1 *\] \([0-9]*\) tests\{0,1\}[.,].*/\1/p" "$dir/windows-tests.log" |
        awk '{ n += $1 } END { print n + 0 }'
    }
    echo "Windows: $(count PASSED) passed, $(count FAILED) failed, $(count SKIPPED) skipped"
    exit "$status"
    ;;
  *)
    echo "usage: scripts/quickstart.sh demo|test|install [PREFIX]|windows" >&2
    exit 2
    ;;
esac
