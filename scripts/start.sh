#!/usr/bin/env bash
# Sets everything up, builds, and starts the desktop application.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
if [[ -x build/bin/taskscheduler-demo ]]; then
    exec build/bin/taskscheduler-demo "$@"
elif [[ -x build/bin/taskschedd ]]; then
    echo "The desktop application is not built yet; starting the scheduling service (taskschedd) in the foreground instead."
    exec build/bin/taskschedd "$@"
else
    echo "The desktop application and the service are not built yet; the libraries are built and tested by scripts/test.sh."
fi
