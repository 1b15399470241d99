#!/usr/bin/env bash
# The Debian package on a fresh Debian 12: a minimal bookworm made by debootstrap, the package
# installed into it with apt (which brings its dependencies from Debian), and then, inside it:
# the application starts, the service it starts runs a task registered with taskschedctl,
# and the package's files are where the system looks for them. The minimal system is made
# once (build-deb/bookworm-base/) and copied afresh for every run. Needs root (chroot,
# mounts) and Debian's package registry; ends every process it started in there.
# Not part of CI: it downloads some 150 MB. Usage: scripts/check-deb.sh
set -euo pipefail
cd "$(dirname "$0")/.."
[[ $(id -u) -eq 0 ]] || { echo "check-deb: needs root (chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
started=$(date +%s)
base="$PWD/build-deb/bookworm-base"
system="$PWD/build-deb/bookworm"
fail() { echo "check-deb: $*" >&2; exit 1; }

bash scripts/package.sh >/dev/null
deb="$(ls build-deb/taskscheduler_*.deb)"
if [[ ! -x "$base/usr/bin/apt-get" ]]; then
    echo "== A minimal Debian 12 in $base (once)"
    rm -rf "$base"
    debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian >/dev/null
fi

processes_inside() {
    local link
    for link in /proc/[0-9]*/root; do
        [[ "$(readlink "$link" 2>/dev/null)" == "$system" ]] && basename "$(dirname "$link")"
    done
    return 0
}
cleanup() {
    local pids
    pids="$(processes_inside)"
    [[ -z "$pids" ]] || kill -KILL $pids 2>/dev/null || true
    mountpoint -q "$system/proc" && umount "$system/proc"
    rm -rf "$system"
}
trap cleanup EXIT

echo "== The package into a fresh copy of it"
rm -rf "$system"
cp -a "$base" "$system"
mount -t proc proc "$system/proc"
cp /etc/resolv.conf "$system/etc/resolv.conf"
cp "$deb" "$system/tmp/"
inside() { chroot "$system" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
inside apt-get update -qq
inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$(basename "$deb")" >/dev/null
for file in /usr/bin/taskscheduler-demo /usr/bin/taskschedd /usr/bin/taskschedctl /usr/libexec/taskschedd-exec \
    /etc/pam.d/taskschedd /lib/systemd/system/taskschedd.service /usr/share/applications/taskscheduler-demo.desktop; do
    [[ -e "$system$file" ]] || fail "$file is not installed"
done
grep -qx "ExecStart=/usr/bin/taskschedd.*" "$system/lib/systemd/system/taskschedd.service" || fail "the unit does not start /usr/bin/taskschedd"

echo "== Inside: the application starts"
inside sh -c 'mkdir -m 700 /tmp/root && export TASKSCHEDULER_HOME=/tmp/root QT_QPA_PLATFORM=offscreen &&
    { taskscheduler-demo >/tmp/demo.log 2>&1 & demo=$!; sleep 3; kill -0 $demo || { cat /tmp/demo.log; exit 1; };
      kill -TERM $demo; wait $demo || true; }' || fail "the application did not stay up"

echo "== Inside: the service runs a task"
inside sh -c 'export TASKSCHEDULER_HOME=/tmp/root &&
    taskschedctl create --program /bin/sh --arguments "-c \"date > /tmp/ran\"" Check &&
    taskschedctl run Check &&
    for i in $(seq 100); do [ -s /tmp/ran ] && break; sleep 0.1; done && [ -s /tmp/ran ] &&
    taskschedctl history Check && taskschedctl delete Check' || fail "the task did not run"
echo "check-deb: passed in $(( $(date +%s) - started )) s"
