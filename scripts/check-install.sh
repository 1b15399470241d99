#!/usr/bin/env bash
# The project as others get it: a build with the tests turned off (build-install/), installed
# into a temporary prefix; the installed application and service started there; a program
# outside this tree (examples/installed-library) built against the installed library with
# find_package(kvtask) and run against its own temporary service root. Ends every service
# process it started. Run after scripts/setup.sh: with the same flags as build/, the build is
# served from ccache and costs little more than linking.
# Usage: scripts/check-install.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ccache-env.sh
started=$(date +%s)
work="$(mktemp -d)"
prefix="$work/prefix"
root="$work/root"
export TASKSCHEDULER_TEST_RUN="install-check-$$-$(date +%s%N)"

stop_service() {
    local lock="$root/taskschedd.lock" pid
    [[ -f "$lock" ]] || return 0
    pid="$(head -n 1 "$lock")"
    [[ "$(cat "/proc/$pid/comm" 2>/dev/null)" == taskschedd ]] || return 0
    kill -TERM "$pid"
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
}
cleanup() {
    stop_service
    bash scripts/leftover-services.sh "$TASKSCHEDULER_TEST_RUN" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

echo "== Build with the tests turned off, install into $prefix"
cmake -S . -B build-install -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${ccache_args[@]}" \
    -DTS_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build build-install --parallel "$(nproc)" >/dev/null
cmake --install build-install >/dev/null

for file in bin/taskscheduler-demo bin/taskschedd bin/taskschedctl libexec/taskschedd-exec; do
    [[ -x "$prefix/$file" ]] || fail "$file is not installed"
done
[[ ! -e "$prefix/bin/taskschedd-exec" ]] || fail "the supervisor is installed beside the daemon"
for kind in user system; do
    grep -qx "ExecStart=$prefix/bin/taskschedd.*" "$prefix/lib/systemd/$kind/taskschedd.service" \
        || fail "the $kind unit does not start $prefix/bin/taskschedd"
done
for file in etc/pam.d/taskschedd share/applications/taskscheduler-demo.desktop \
    share/icons/hicolor/scalable/apps/taskscheduler-demo.svg include/kvtask/kvTask.h; do
    [[ -f "$prefix/$file" ]] || fail "$file is not installed"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/taskscheduler-demo.desktop"
fi

# Nothing of build/ or of another installation may stand in for what was installed. The
# prefix is not on PATH: the installed library must find its service where it was installed.
export PATH="/usr/bin:/bin"
export TASKSCHEDULER_HOME="$root"
export QT_QPA_PLATFORM=offscreen
unset TASKSCHEDULER_TRANSPORT TASKSCHEDULER_SSH
! command -v taskschedd-exec >/dev/null || fail "another taskschedd-exec is on PATH: $(command -v taskschedd-exec)"

echo "== The installed application starts"
"$prefix/bin/taskscheduler-demo" >"$work/demo.log" 2>&1 &
demo=$!
sleep 3
kill -0 "$demo" 2>/dev/null || { cat "$work/demo.log" >&2; fail "the application ended at once"; }
kill -TERM "$demo"
wait "$demo" 2>/dev/null || true

echo "== A program outside the tree, against the installed library"
cmake -S examples/installed-library -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/example" >/dev/null
# The task runs under the installed daemon, through the supervisor it finds in libexec.
"$work/example/run-one-task" "$work/ran"
daemon_exe="$(readlink "/proc/$(head -n 1 "$root/taskschedd.lock")/exe" || true)"
[[ "$daemon_exe" == "$prefix/bin/taskschedd" ]] || fail "the example's service is \"$daemon_exe\", not the installed one"
stop_service
bash scripts/leftover-services.sh "$TASKSCHEDULER_TEST_RUN" || fail "service processes were left behind"

echo "check-install: passed in $(( $(date +%s) - started )) s"
