# Shared steps of scripts/demo and scripts/test: install the Debian packages
# the project needs, then configure and build build/.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}

install_packages() {
    local pkgs missing=()
    pkgs=$(grep -v '^\s*#' "$ROOT/scripts/packages.txt" | tr '\n' ' ')
    for p in $pkgs; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local SUDO=""
    if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null 2>&1; then SUDO=sudo; fi
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
}

# The tests start python3 thousands of times. A version manager's shim in
# front of it (a bash script per call) costs 0.1-2 s a call under load, a
# third of the whole run; the Debian interpreter the packages installed
# starts in 20 ms and has every module the tests use.
use_system_python() {
    [ -x /usr/bin/python3 ] || return 0
    [ "$(readlink -f "$(command -v python3)")" = "$(readlink -f /usr/bin/python3)" ] && return 0
    local bin="$BUILD_DIR/system-python"
    mkdir -p "$bin"
    ln -sfn /usr/bin/python3 "$bin/python3"
    export PATH="$bin:$PATH"
}

configure_and_build() {
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$BUILD_DIR"
}
