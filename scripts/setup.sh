#!/usr/bin/env bash
# Installs what the project needs (only what is missing), configures and builds it.
# Usage: scripts/setup.sh [--sanitize]   (the sanitizer build goes to build-asan/)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ "${1:-}" == "--sanitize" ]]; then
    build_dir=build-asan
    cmake_args=(-DCMAKE_BUILD_TYPE=Debug -DTS_SANITIZE=ON -DTS_BUILD_BENCHMARKS=OFF)
fi

packages=(
    g++ cmake ninja-build pkg-config
    ccache                                      # a second build with the same flags is cache hits
    qt6-base-dev qt6-base-dev-tools libgl-dev   # Qt Core, Gui, Widgets, Network, D-Bus, Test
    libpam0g-dev                                # checking account passwords
    systemd                                     # systemd-analyze, the calendar cross-check
    dbus                                        # dbus-daemon: a private bus for the session tests
    fonts-dejavu-core                           # readable text in offscreen screenshots
    openssh-client openssh-server               # other computers over ssh; the tests' loopback sshd
    xvfb openbox x11-utils                      # the window's placement under a real window manager
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

source scripts/ccache-env.sh
cmake -S . -B "$build_dir" -G Ninja "${cmake_args[@]}" "${ccache_args[@]}" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
