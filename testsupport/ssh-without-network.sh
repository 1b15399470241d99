#!/bin/sh
# Stands in for ssh while the tests run: every other computer is unknown, as it would be
# without a network, so that no test reaches one by accident. Tests that do want ssh (the
# throwaway server on the loopback address) set TASKSCHEDULER_SSH themselves.
host=
while [ $# -gt 0 ]; do
    if [ "$1" = "--" ]; then host=$2; break; fi
    shift
done
echo "ssh: Could not resolve hostname ${host}: Name or service not known" >&2
exit 255
