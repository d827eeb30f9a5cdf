#!/usr/bin/env bash
# Checks that an ALSA configuration stands alone: no other file included (<...>), no hooks that
# would load one (@hooks, func load). Comments are not read.
#   tools/check-alsa-conf.sh FILE
set -euo pipefail
file=${1:?usage: check-alsa-conf.sh FILE}
found=$(sed 's/#.*//' "$file" | grep -nE '^[[:space:]]*<|@hooks|func[[:space:]]+load' || true)
if [ -n "$found" ]; then
    echo "FAIL: $file reads other files, which could then define the default device:"
    echo "$found"
    exit 1
fi
echo "ok: $file includes no other file and runs no hooks"
