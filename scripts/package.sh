#!/usr/bin/env bash
# Builds the Debian package (build-deb/taskscheduler_<version>_<arch>.deb) from the install
# rules, for the prefix /usr, without the tests and benchmarks. Run scripts/setup.sh first.
# Install it with: apt install ./build-deb/taskscheduler_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ccache-env.sh
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${ccache_args[@]}" \
    -DCMAKE_INSTALL_PREFIX=/usr -DTS_BUILD_TESTS=OFF -DTS_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-deb --parallel "$(nproc)"
rm -f build-deb/taskscheduler_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
ls build-deb/taskscheduler_*.deb
