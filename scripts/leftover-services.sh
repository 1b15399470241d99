#!/usr/bin/env bash
# Lists the service processes (taskschedd, taskschedd-exec) whose environment carries the
# mark given as the only argument, ends them, and fails when there were any.
set -uo pipefail
mark="${1:?usage: leftover-services.sh MARK}"
found=()
for dir in /proc/[0-9]*; do
    pid="${dir#/proc/}"
    [[ "$pid" == "$$" ]] && continue
    comm="$(cat "$dir/comm" 2>/dev/null)" || continue
    [[ "$comm" == "taskschedd" || "$comm" == taskschedd-exe* ]] || continue
    state="$(awk '{print $3}' "$dir/stat" 2>/dev/null)" || continue
    [[ "$state" == "Z" ]] && continue
    if tr '\0' '\n' < "$dir/environ" 2>/dev/null | grep -qxF "TASKSCHEDULER_TEST_RUN=$mark"; then
        found+=("$pid")
    fi
done
(( ${#found[@]} == 0 )) && exit 0
echo "The test suite left ${#found[@]} service process(es) behind:" >&2
for pid in "${found[@]}"; do
    echo "  $pid: $(tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null)" >&2
done
kill -TERM "${found[@]}" 2>/dev/null
sleep 2
kill -KILL "${found[@]}" 2>/dev/null
exit 1
